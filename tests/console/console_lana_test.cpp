// SPDX-License-Identifier: MIT
// The LANA report.
#include "console_fixture.h"

namespace console_test {
namespace {

scripted::Answer Lanas(std::vector<UCHAR> numbers) {
    return [numbers](NCB &ncb) {
        auto *reply = reinterpret_cast<LANA_ENUM *>(ncb.ncb_buffer);
        reply->length = UCHAR(numbers.size());
        for (std::size_t i = 0; i < numbers.size(); ++i) reply->lana[i] = numbers[i];
    };
}

TEST_F(ConsoleTest, LanaReportListsTheNumbersInReplyOrder) {
    scripted::Push(Lanas({}));
    wxTEST_DIALOG(Click(*dlg, IDC_LANANUMBERS), ExpectBox("Geldige entries: 0\n", "LanaEnum"));
    scripted::Push(Lanas({0}));
    wxTEST_DIALOG(Click(*dlg, IDC_LANANUMBERS), ExpectBox("Geldige entries: 1\nLANnr:   0\n", "LanaEnum"));
    scripted::Push(Lanas({3, 0, 254, 12}));
    wxTEST_DIALOG(
        Click(*dlg, IDC_LANANUMBERS),
        ExpectBox("Geldige entries: 4\nLANnr:   3\nLANnr:   0\nLANnr: 254\nLANnr:  12\n", "LanaEnum"));

    ASSERT_EQ(scripted::Log().size(), 3u);
    for (const scripted::Submission &sent : scripted::Log()) {
        EXPECT_EQ(sent.ncb.ncb_command, NCBENUM);
        EXPECT_EQ(sent.ncb.ncb_length, 256);
    }
}

TEST_F(ConsoleTest, LanaReportFailureSaysNietGeluktAndTouchesNothingElse) {
    Run(IDC_ADDNAME);  // leaves a return code in the block and the line
    const std::string result = Text(*dlg, IDC_RESULT);
    scripted::PushCode(NRC_BRIDGE);
    wxTEST_DIALOG(Click(*dlg, IDC_LANANUMBERS), ExpectBox("Niet Gelukt", "LanaEnum"));
    EXPECT_EQ(dlg->m_block.ncb_retcode, NRC_GOODRET);
    EXPECT_EQ(Text(*dlg, IDC_RESULT), result);
    EXPECT_TRUE(Enabled(*dlg, IDC_RESET)) << "the report does not change the control states";
}

}  // namespace
}  // namespace console_test
