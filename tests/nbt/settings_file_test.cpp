// The settings file and environment: what they change, per adapter too,
// and that a bad line is reported with its file and line number.
#include "settings_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using nbt::NodeType;
using nbt::Settings;

TEST(SettingsFile, NodeTypeServersAndAdapterOverrides) {
    Settings settings;
    std::string error;
    ASSERT_TRUE(
        nbt::ApplySettingsText("# WINS for the whole host\n"
                               "node-type = H\n"
                               "wins = 198.18.161.11, 198.18.161.12:1137   # two servers\n"
                               "name-server-timeout = 0.5\n"
                               "\n"
                               "[adapter eth1]\n"
                               "node-type = b\n"
                               "scope = lab.example\n",
                               "korvel.conf", settings, &error))
        << error;
    EXPECT_EQ(settings.node_type, NodeType::kH);
    EXPECT_EQ(settings.name_server, (nbt::NameServer{0xC612A10B, 0}));
    EXPECT_EQ(settings.name_server_secondary, (nbt::NameServer{0xC612A10C, 1137}));
    EXPECT_EQ(settings.ns_retry_timeout, std::chrono::milliseconds(500));
    const Settings eth1 = settings.ForAdapter("eth1");
    EXPECT_EQ(eth1.node_type, NodeType::kB);
    EXPECT_EQ(eth1.scope, "lab.example");
    EXPECT_EQ(eth1.name_server, settings.name_server) << "what the section leaves alone is inherited";
    EXPECT_EQ(settings.ForAdapter("eth0").node_type, NodeType::kH);
}

TEST(SettingsFile, BadLinesNameTheFileAndLine) {
    for (const auto &[text, line] : std::vector<std::pair<std::string, int>>{
             {"node-type = q\n", 1},
             {"\n# ok\nwins = 300.1.1.1\n", 3},
             {"wins = 10.0.0.1, \n", 1},
             {"wins = 10.0.0.1:0\n", 1},
             {"[adapter]\n", 1},
             {"[adapter eth0]\nname-server-timeout = 2\n", 2},
             {"colour = blue\n", 1},
             {"node-type h\n", 1},
         }) {
        Settings settings;
        std::string error;
        EXPECT_FALSE(nbt::ApplySettingsText(text, "/etc/korvel/korvel.conf", settings, &error)) << text;
        EXPECT_EQ(error.rfind("/etc/korvel/korvel.conf:" + std::to_string(line) + ": ", 0), 0u) << error;
    }
}

TEST(SettingsFile, UserFileOverridesAndTheEnvironmentOverridesBoth) {
    const auto home =
        std::filesystem::temp_directory_path() / ("korvel-settings-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home / "korvel");
    std::ofstream(home / "korvel" / "korvel.conf") << "node-type = p\nwins = 10.9.8.7\n";
    ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    ::setenv("KORVEL_NODE_TYPE", "m", 1);
    ::unsetenv("KORVEL_WINS");
    ::unsetenv("KORVEL_SCOPE");
    std::string error;
    auto settings = nbt::LoadSettings({}, &error);
    ASSERT_TRUE(settings) << error;
    EXPECT_EQ(settings->node_type, NodeType::kM);
    EXPECT_EQ(settings->name_server.ipv4, 0x0A090807u);

    ::setenv("KORVEL_WINS", "not-an-address", 1);
    EXPECT_FALSE(nbt::LoadSettings({}, &error));
    EXPECT_NE(error.find("KORVEL_WINS"), std::string::npos) << error;
    std::filesystem::remove_all(home);
}
