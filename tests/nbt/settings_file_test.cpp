// SPDX-License-Identifier: MIT
// The settings file and environment: what they change, per adapter too,
// that a bad line is reported with its file and line number (and its bytes
// escaped), and that no file can block, exhaust or silently vanish.
#include "settings_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>

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
                               "broadcast-timeout = 0.1\n"
                               "broadcast-retries = 2\n"
                               "client-max-names = 40\n"
                               "\n"
                               "[adapter eth1]\n"
                               "node-type = b\n"
                               "scope = lab.example\n"
                               "lana = 254\n",
                               "korvel.conf", settings, &error))
        << error;
    EXPECT_EQ(settings.node_type, NodeType::kH);
    EXPECT_EQ(settings.name_server, (nbt::NameServer{0xC612A10B, 0}));
    EXPECT_EQ(settings.name_server_secondary, (nbt::NameServer{0xC612A10C, 1137}));
    EXPECT_EQ(settings.ns_retry_timeout, std::chrono::milliseconds(500));
    EXPECT_EQ(settings.bcast_retry_timeout * settings.bcast_retry_count, std::chrono::milliseconds(200));
    EXPECT_EQ(settings.client_max_names, 40u);
    const Settings eth1 = settings.ForAdapter("eth1");
    EXPECT_EQ(eth1.node_type, NodeType::kB);
    EXPECT_EQ(eth1.scope, "lab.example");
    EXPECT_EQ(eth1.name_server, settings.name_server) << "what the section leaves alone is inherited";
    EXPECT_EQ(settings.ForAdapter("eth0").node_type, NodeType::kH);
    EXPECT_EQ(settings.adapters["eth1"].lana, 254);
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
             {"lana = 3\n", 1},
             {"[adapter eth0]\nlana = 0\n", 2},
             {"[adapter eth0]\nlana = 255\n", 2},
             {"[adapter eth0]\nlana = 0003\n", 2},
             {"[adapter eth0]\nlana = -1\n", 2},
             {"client-max-ncbs = 0\n", 1},
             {"client-max-sessions = 255\n", 1},
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

// A config home of its own (XDG_CONFIG_HOME) for one test, and what
// LoadSettings made of it: the settings, the error and standard error.
class SettingsFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        home_ = std::filesystem::temp_directory_path() /
                ("korvel-settings-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::create_directories(home_ / "korvel");
        ::setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
        for (const char *variable : {"KORVEL_NODE_TYPE", "KORVEL_WINS", "KORVEL_SCOPE"}) ::unsetenv(variable);
    }
    void TearDown() override { std::filesystem::remove_all(home_); }

    std::filesystem::path File() const { return home_ / "korvel" / "korvel.conf"; }

    struct Loaded {
        std::optional<Settings> settings;
        std::string error, err;
    };
    static Loaded Load() {
        Loaded loaded;
        ::testing::internal::CaptureStderr();
        loaded.settings = nbt::LoadSettings({}, &loaded.error);
        loaded.err = ::testing::internal::GetCapturedStderr();
        return loaded;
    }
    // Load() on another thread; when it has not returned within 10 s
    // the FIFO's writing end is opened and closed to set it free.
    Loaded LoadUnblockingFifo() const {
        auto loading = std::async(std::launch::async, [] {
            Loaded loaded;
            loaded.settings = nbt::LoadSettings({}, &loaded.error);
            return loaded;
        });
        if (loading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "LoadSettings blocked on the FIFO";
            ::close(::open(File().c_str(), O_WRONLY | O_NONBLOCK));
        }
        return loading.get();
    }

    std::filesystem::path home_;
};

TEST_F(SettingsFileOnDisk, WhatIsNotARegularFileIsRefusedWithoutBeingRead) {
    ASSERT_EQ(::mkfifo(File().c_str(), 0600), 0);
    Loaded fifo = LoadUnblockingFifo();
    EXPECT_FALSE(fifo.settings);
    EXPECT_NE(fifo.error.find(File().string() + ": is a FIFO"), std::string::npos) << fifo.error;

    std::filesystem::remove(File());
    std::filesystem::create_symlink("/dev/zero", File());
    Loaded zero = Load();
    EXPECT_FALSE(zero.settings);
    EXPECT_NE(zero.error.find(File().string() + ": is a character device"), std::string::npos) << zero.error;

    std::filesystem::remove(File());
    std::filesystem::create_directory(File());
    Loaded directory = Load();
    EXPECT_FALSE(directory.settings);
    EXPECT_NE(directory.error.find("is a directory"), std::string::npos) << directory.error;
}

TEST_F(SettingsFileOnDisk, AFileOverTheCapIsRefusedAndOneAtItIsRead) {
    const std::string line = "# " + std::string(1021, '.') + "\n";  // 1 KiB
    std::string text;
    for (int i = 0; i < 63; ++i) text += line;
    text += "node-type = p\n";
    text += std::string(1024 - 14 - 1, '#') + "\n";  // exactly 64 KiB
    ASSERT_EQ(text.size(), nbt::kMaxSettingsFile);
    std::ofstream(File()) << text;
    Loaded at_cap = Load();
    ASSERT_TRUE(at_cap.settings) << at_cap.error;
    EXPECT_EQ(at_cap.settings->node_type, NodeType::kP);

    std::ofstream(File(), std::ios::app) << "\n";
    Loaded over = Load();
    EXPECT_FALSE(over.settings);
    EXPECT_NE(over.error.find(File().string() + ": larger than 64 KiB"), std::string::npos) << over.error;

    // Sparse: nothing of it is read.
    std::filesystem::resize_file(File(), std::uintmax_t{1} << 40);
    Loaded huge = Load();
    EXPECT_FALSE(huge.settings);
    EXPECT_NE(huge.error.find("larger than 64 KiB"), std::string::npos) << huge.error;
}

TEST_F(SettingsFileOnDisk, AFileThatCannotBeReadIsReportedOnceAndSkipped) {
    // A link to itself exists yet cannot be opened, even by root.
    std::filesystem::create_symlink("korvel.conf", File());
    Loaded first = Load();
    ASSERT_TRUE(first.settings) << first.error;
    EXPECT_NE(first.err.find("cannot read " + File().string() + ": "), std::string::npos) << first.err;
    EXPECT_EQ(Load().err, "") << "said once";

    std::filesystem::remove(File());
    std::ofstream(File()) << "node-type = p\n";
    std::filesystem::permissions(File(), std::filesystem::perms::none);
    if (::geteuid() != 0) {
        Loaded denied = Load();
        ASSERT_TRUE(denied.settings) << denied.error;
        EXPECT_EQ(denied.settings->NodeTypeInUse(), NodeType::kB);
        EXPECT_NE(denied.err.find(File().string() + ": Permission denied"), std::string::npos) << denied.err;
    }

    std::filesystem::remove_all(home_ / "korvel");
    EXPECT_EQ(Load().err, "") << "a missing file is no news";
}

TEST(SettingsFile, BytesFromABadLineAreEscapedInItsMessage) {
    for (const auto &[text, shown] : std::vector<std::pair<std::string, std::string>>{
             {"colour\x1b]0;owned\x07 = x\n", "'colour\\x1B]0;owned\\x07'"},
             {"node-type = \x9b"
              "31m\x7f\n",
              "'\\x9B31m\\x7F'"},
             {"node-type = \xc2\x9b"
              "31m\n",
              "'\\xC2\\x9B31m'"},                             // C1 as UTF-8 is still C1
             {"node-type = caf\xc3\xa9\n", "'caf\xc3\xa9'"},  // other UTF-8 stays as it is
             {"node-type = \xed\xa0\x80\xc0\xaf\n", "'\\xED\\xA0\\x80\\xC0\\xAF'"},
         }) {
        Settings settings;
        std::string error;
        EXPECT_FALSE(nbt::ApplySettingsText(text, "korvel.conf", settings, &error));
        EXPECT_NE(error.find(shown), std::string::npos) << error;
    }
}

TEST(SettingsFile, ScopesAreDomainLabelsAndNameServersUnicast) {
    Settings settings;
    std::string error;
    std::string longest = std::string(11, 'a');  // encoded with the name: 34 + 12 + 19 * 11 = 255 bytes
    for (int i = 0; i < 19; ++i) longest.append(".").append(10, 'b');
    for (const std::string &scope :
         std::vector<std::string>{"lab.example", "1corp", "a-b.C9", std::string(63, 'x') + ".y", longest})
        EXPECT_TRUE(nbt::ApplySetting("scope", scope, settings, &error)) << scope << ": " << error;

    for (const std::string &scope :
         std::vector<std::string>{longest + "z", std::string(64, 'x'), "a..b", ".a", "a.", "-corp", "corp-",
                                  "co rp", "corp_x", "caf\xc3\xa9", "corp\x1b[2J", std::string("a\0b", 3)}) {
        EXPECT_FALSE(nbt::ApplySetting("scope", scope, settings, &error)) << scope;
        EXPECT_EQ(error.find('\x1b'), std::string::npos) << error;
    }

    for (const char *wins : {"127.0.0.1", "10.0.0.1:1137", "223.255.255.254"})
        EXPECT_TRUE(nbt::ApplySetting("wins", wins, settings, &error)) << wins << ": " << error;
    for (const auto &[wins, why] : std::vector<std::pair<std::string, std::string>>{
             {"224.0.0.1", "multicast"},
             {"10.0.0.1, 239.255.255.250", "multicast"},
             {"255.255.255.255", "broadcast"},
             {"240.0.0.1", "reserved"},
             {"0.0.0.0", "this network"},
             {"0.1.2.3:137", "this network"},
         }) {
        EXPECT_FALSE(nbt::ApplySetting("wins", wins, settings, &error)) << wins;
        EXPECT_NE(error.find(why), std::string::npos) << wins << ": " << error;
    }
}

TEST_F(SettingsFileOnDisk, TheEnvironmentIsCheckedLikeTheFile) {
    ::setenv("KORVEL_SCOPE", "corp\x1b[2J", 1);
    Loaded scope = Load();
    EXPECT_FALSE(scope.settings);
    EXPECT_NE(scope.error.find("KORVEL_SCOPE: "), std::string::npos) << scope.error;
    EXPECT_NE(scope.error.find("corp\\x1B[2J"), std::string::npos) << scope.error;
    ::unsetenv("KORVEL_SCOPE");

    ::setenv("KORVEL_WINS", "224.0.0.251", 1);
    Loaded wins = Load();
    EXPECT_FALSE(wins.settings);
    EXPECT_NE(wins.error.find("KORVEL_WINS: "), std::string::npos) << wins.error;
}
