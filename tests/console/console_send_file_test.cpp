// SPDX-License-Identifier: MIT
// Sending the contents of a file: text-mode reading, the 9999-byte limit,
// the first NUL, and the two file error boxes.
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "console_fixture.h"

namespace console_test {
namespace {

class SendFileTest : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        char pattern[] = "/tmp/korvel-send-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        SetText(*dlg, IDC_LSN, "5");
    }
    void TearDown() override {
        for (const std::string &file : m_files) std::remove(file.c_str());
        rmdir(m_dir.c_str());
        ConsoleTest::TearDown();
    }

    std::string MakeFile(const std::string &name, const std::string &bytes) {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        m_files.push_back(path);
        return path;
    }

    // Selects send-from-file with this name and executes.
    void SendFile(const std::string &path) {
        Click(*dlg, IDC_SEND);
        SetChecked(*dlg, IDC_FILEMSG, true);
        SetText(*dlg, IDC_MESSAGE, path);
        Click(*dlg, IDC_EXECUTE);
    }

    std::string Sent() const {
        const scripted::Submission &send = scripted::Log().back();
        EXPECT_EQ(send.ncb.ncb_command, NCBSEND);
        EXPECT_EQ(send.ncb.ncb_lsn, 5);
        EXPECT_EQ(send.ncb.ncb_length, send.buffer.size());
        return std::string(send.buffer.begin(), send.buffer.end());
    }

    std::string m_dir;
    std::vector<std::string> m_files;
};

TEST_F(SendFileTest, FileIsSentInTextMode) {
    SendFile(MakeFile("tekst.txt", "regel 1\r\nregel 2\r\nlos\rCR\n\r\n"));
    EXPECT_EQ(Sent(), "regel 1\nregel 2\nlos\rCR\n\n");
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "Send gereed");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "Ok......");
    EXPECT_EQ(Text(*dlg, IDC_MESSAGE), m_files.back()) << "the file name stays in the field";

    SendFile(MakeFile("eof.txt",
                      "voor\x1a"
                      "na het einde"));
    EXPECT_EQ(Sent(), "voor");

    SendFile(MakeFile("nul.bin", std::string("ab\0cd", 5)));
    EXPECT_EQ(Sent(), "ab");

    // A name beyond ASCII is found as the file system spells it (UTF-8).
    MakeFile("bericht-\xc3\xa9\xe2\x82\xac.txt", "inhoud");
    Click(*dlg, IDC_SEND);
    SetText(*dlg, IDC_MESSAGE, m_dir + "/bericht-\xe9\x80.txt");  // the same name in Windows-1252
    Click(*dlg, IDC_EXECUTE);
    EXPECT_EQ(Sent(), "inhoud");

    scripted::PushCode(NRC_SCLOSED);
    SendFile(MakeFile("fout.txt", "x"));
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "Send gereed");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "RetCode: 0A [10]");
}

TEST_F(SendFileTest, AtMost9999StoredBytesAreRead) {
    std::string big(12000, 'x');
    big[9998] = 'E';
    SendFile(MakeFile("groot.txt", big));
    const std::string sent = Sent();
    EXPECT_EQ(sent.size(), 9999u);
    EXPECT_EQ(sent.back(), 'E');

    // Line ends count as stored: 9999 bytes of CR LF pairs give fewer bytes.
    std::string lines;
    while (lines.size() < 11000) lines += "abc\r\n";
    SendFile(MakeFile("regels.txt", lines));
    // 1999 whole lines (9995 bytes), then "abcr" with the CR that ends the
    // read completed by its LF from beyond the limit.
    EXPECT_EQ(Sent().size(), 1999u * 4 + 4);
    EXPECT_EQ(Sent().substr(Sent().size() - 4), "abc\n");
}

TEST_F(SendFileTest, FileErrorsAreToldWithTheNameAsCaptionAndNothingIsSent) {
    const std::string missing = m_dir + "/bestaat-niet.txt";
    wxTEST_DIALOG(SendFile(missing), ExpectBox("De file is niet te openen", missing));
    wxTEST_DIALOG(SendFile(m_dir), ExpectBox("De file is niet te openen", m_dir));
    const std::string empty = MakeFile("leeg.txt", "");
    wxTEST_DIALOG(SendFile(empty), ExpectBox("De file is niet te lezen", empty));
    const std::string endsAtOnce = MakeFile("eof-eerst.txt",
                                            "\x1a"
                                            "data");
    wxTEST_DIALOG(SendFile(endsAtOnce), ExpectBox("De file is niet te lezen", endsAtOnce));

    EXPECT_TRUE(scripted::Log().empty());
    EXPECT_EQ(Text(*dlg, IDC_STATUS), "Send start..");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "BEZIG.......");
    EXPECT_TRUE(Enabled(*dlg, IDC_SEND)) << "the console is idle again";
    EXPECT_FALSE(Enabled(*dlg, IDC_EXECUTE));
}

TEST_F(SendFileTest, FifoWithoutWriterDoesNotHangTheConsole) {
    const std::string fifo = m_dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    m_files.push_back(fifo);
    wxTEST_DIALOG(SendFile(fifo), ExpectBox("De file is niet te openen", fifo));
}

}  // namespace
}  // namespace console_test
