// SPDX-License-Identifier: MIT
// The version data: one set of values in the executable, the About box and
// the desktop entry.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "version_info.h"

namespace {

std::string ReadFile(const char *path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The [Desktop Entry] group as key/value pairs; fails on a malformed line.
std::map<std::string, std::string> DesktopEntry(const std::string &text) {
    std::map<std::string, std::string> entry;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "[Desktop Entry]");
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        const auto eq = line.find('=');
        EXPECT_NE(eq, std::string::npos) << line;
        if (eq == std::string::npos) continue;
        EXPECT_TRUE(entry.emplace(line.substr(0, eq), line.substr(eq + 1)).second) << "duplicate " << line;
    }
    return entry;
}

TEST(VersionData, ExecutableBlockCarriesTheProjectVersionAndStrings) {
    using namespace version_info;
    EXPECT_STREQ(kFileVersion, KORVEL_PROJECT_VERSION);
    EXPECT_STREQ(kProductVersion, KORVEL_PROJECT_VERSION);
    const std::string block = Block();
    for (const std::string &line : std::initializer_list<std::string>{
             "FileVersion=1, 0, 0, 1\n", "ProductVersion=1, 0, 0, 1\n",
             "FileDescription=Korvel MFC Application\n", "InternalName=Korvel\n",
             "OriginalFilename=Korvel.EXE\n", "ProductName=Korvel Application\n", "CompanyName=\n",
             "LegalTrademarks=\n", std::string("LegalCopyright=") + kLegalCopyright + "\n",
             "StringFileInfo=040904B0\n"})
        EXPECT_NE(block.find(line), std::string::npos) << line;
}

TEST(VersionData, DesktopEntryAndAboutBoxShowIt) {
    using namespace version_info;
    const auto entry = DesktopEntry(ReadFile(KORVEL_DESKTOP_ENTRY));
    EXPECT_EQ(entry.at("Type"), "Application");
    EXPECT_EQ(entry.at("Name"), "Korvel");
    EXPECT_EQ(entry.at("Comment"), kFileDescription);
    EXPECT_EQ(entry.at("X-Korvel-FileVersion"), kFileVersion);
    EXPECT_EQ(entry.at("X-Korvel-ProductVersion"), kProductVersion);
    EXPECT_EQ(entry.at("X-Korvel-FileDescription"), kFileDescription);
    EXPECT_EQ(entry.at("X-Korvel-InternalName"), kInternalName);
    EXPECT_EQ(entry.at("X-Korvel-OriginalFilename"), kOriginalFilename);
    EXPECT_EQ(entry.at("X-Korvel-ProductName"), kProductName);
    EXPECT_EQ(entry.at("X-Korvel-LegalCopyright"), kLegalCopyright);

    const std::string about = ReadFile(KORVEL_ABOUT_XRC);
    EXPECT_NE(about.find(std::string("<label>") + kAboutLine + "</label>"), std::string::npos);
    EXPECT_NE(std::string(kAboutLine).find(kFileVersion), std::string::npos);
    EXPECT_NE(std::string(kAboutLine).find(kLegalCopyright), std::string::npos);
}

}  // namespace
