// SPDX-License-Identifier: MIT
// The window-system layer on its own: text encoding, formatting, text-mode
// file reading and the unsigned data exchange.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "console_fixture.h"

namespace console_test {
namespace {

TEST(Codepage, EveryByteIsOneCharacterAndComesBackUnchanged) {
    std::string bytes;
    for (int b = 1; b < 256; ++b) bytes += char(b);
    const wxString text = ToToolkit(bytes);
    EXPECT_EQ(text.length(), bytes.size());
    EXPECT_EQ(FromToolkit(text), bytes);
    EXPECT_EQ(ToToolkit("\x80\x8a\xe9"), wxString::FromUTF8("\u20ac\u0160\u00e9"));
}

TEST(Codepage, CharactersWithoutAByteBecomeAQuestionMark) {
    EXPECT_EQ(FromToolkit(wxString::FromUTF8("a\u4e2db\u0100\U0001F600")), "a?b??");
}

TEST(CStringFormat, FormatsAsPrintfAndLoadsItsString) {
    CString text;
    text.Format("%s %u [%02X]", "RetCode", 300u, 0x0Du);
    EXPECT_EQ(text, "RetCode 300 [0D]");
    text.AppendFormat("%3d|", 7);
    text += "!";
    EXPECT_EQ(text, "RetCode 300 [0D]  7|!");
    CString big;
    big.Format("%s", std::string(5000, 'z').c_str());
    EXPECT_EQ(big.GetLength(), 5000);
    CString about;
    EXPECT_TRUE(about.LoadString(IDS_ABOUTBOX));
    EXPECT_EQ(about, "&About Korvel...");
    EXPECT_FALSE(about.LoadString(4711));
    EXPECT_EQ(about, "&About Korvel...");
}

class TextModeFile : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto &path : m_paths) std::remove(path.c_str());
    }
    int Open(const std::string &bytes, int mode = _O_TEXT) {
        char pattern[] = "/tmp/korvel-read-XXXXXX";
        const int fd = mkstemp(pattern);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        close(fd);
        m_paths.emplace_back(pattern);  // a test may open several
        return _sopen(pattern, _O_RDONLY | mode, _SH_DENYNO);
    }
    // Reads everything in chunks of this size.
    static std::string ReadAll(int fd, unsigned chunk) {
        std::string all;
        std::vector<char> buffer(chunk);
        int got;
        while ((got = _read(fd, buffer.data(), chunk)) > 0) all.append(buffer.data(), std::size_t(got));
        EXPECT_EQ(got, 0);
        return all;
    }
    std::vector<std::string> m_paths;
};

TEST_F(TextModeFile, CrLfBecomesLfAcrossChunkEdges) {
    for (unsigned chunk : {1u, 2u, 3u, 4u, 100u}) {
        const int fd = Open("a\r\nb\r\r\nc\r");
        ASSERT_GE(fd, 0);
        EXPECT_EQ(ReadAll(fd, chunk), "a\nb\r\nc\r") << "chunk " << chunk;
        EXPECT_EQ(_close(fd), 0);
    }
}

TEST_F(TextModeFile, CtrlZEndsTheDataForGood) {
    const int fd = Open(
        "ab\x1a"
        "cd");
    char buffer[16];
    EXPECT_EQ(_read(fd, buffer, sizeof buffer), 2);
    EXPECT_EQ(_read(fd, buffer, sizeof buffer), 0);
    _close(fd);
}

TEST_F(TextModeFile, BinaryModeAndRefusals) {
    int fd = Open("a\r\n\x1a", _O_BINARY);
    EXPECT_EQ(ReadAll(fd, 3), "a\r\n\x1a");
    _close(fd);
    EXPECT_EQ(_sopen(m_paths.back().c_str(), 0x0002 /* read-write */, _SH_DENYNO), -1);
    EXPECT_EQ(_sopen("/tmp", _O_RDONLY, _SH_DENYNO), -1);
    EXPECT_EQ(_sopen("/nonexistent/korvel", _O_RDONLY, _SH_DENYNO), -1);
    char buffer[4];
    EXPECT_EQ(_read(-1, buffer, 4), -1);
    EXPECT_EQ(_close(-1), -1);
}

TEST_F(ConsoleTest, UnsignedDataExchangeLoadsAndKeepsTheMemberOnBadText) {
    dlg->m_lana = 17;
    dlg->UpdateData(false);
    EXPECT_EQ(Text(*dlg, IDC_LANA), "17");
    SetText(*dlg, IDC_LANA, "  42\t");
    EXPECT_TRUE(dlg->UpdateData(true));
    EXPECT_EQ(dlg->m_lana, 42u);
    SetText(*dlg, IDC_LANA, "+5");
    bool saved = true;
    wxTEST_DIALOG(saved = dlg->UpdateData(true),
                  ExpectBox("Voer een getal van 0 tot 4294967295 in.", "Korvel"));
    EXPECT_FALSE(saved);
    EXPECT_EQ(dlg->m_lana, 42u);
}

TEST_F(ConsoleTest, MessageBoxKeepsTabsAndLineFeeds) {
    wxTEST_DIALOG(dlg->MessageBox("a\tb\nc", "Titel", MB_OK | MB_ICONINFORMATION),
                  ExpectBox("a\tb\nc", "Titel"));
}

}  // namespace
}  // namespace console_test
