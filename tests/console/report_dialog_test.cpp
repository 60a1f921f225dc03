// SPDX-License-Identifier: MIT
// The reports, the remote adapter query and the window decorations on the
// real console dialog, with the provider's replies scripted.
#include <wx/button.h>
#include <wx/iconbndl.h>
#include <wx/image.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "about_dlg.h"
#include "console_fixture.h"
#include "input_dlg.h"
#include "version_info.h"

namespace console_test {
namespace {

using Bytes = std::vector<UCHAR>;

template <typename T>
void Append(Bytes &reply, const T &record) {
    const auto *p = reinterpret_cast<const UCHAR *>(&record);
    reply.insert(reply.end(), p, p + sizeof(T));
}

// A successful reply: the bytes go into the buffer as far as it reaches, and
// the provider says it returned all of them.
scripted::Answer Reply(Bytes bytes) {
    return [bytes](NCB &ncb) {
        std::memcpy(ncb.ncb_buffer, bytes.data(), std::min<std::size_t>(bytes.size(), ncb.ncb_length));
        ncb.ncb_length = WORD(bytes.size());
    };
}

Bytes AdapterReply(WORD names, std::size_t present) {
    ADAPTER_STATUS status{};
    const UCHAR address[6] = {0x02, 0x00, 0x4B, 0x4F, 0x52, 0x56};
    std::memcpy(status.adapter_address, address, 6);
    status.rev_major = 3;
    status.adapter_type = 0xFE;
    status.free_ncbs = 16;
    status.name_count = names;
    Bytes reply;
    Append(reply, status);
    for (std::size_t i = 0; i < present; ++i) {
        NAME_BUFFER name{};
        std::memcpy(name.name, "KORVEL          ", 16);
        name.name_num = UCHAR(i + 2);
        name.name_flags = 0x84;
        Append(reply, name);
    }
    return reply;
}

const char kOneNameReport[] =
    "Adapter adres: 02004B4F5256 Revision: 3.0 Adapter type: 254\n"
    "Duration: 0 Frames RxD: 0 Frames TxD: 0 Abort Txd: 0\n"
    "TxD Success: 0 Recv Success: 0 Free NCB:16 Names: 1\n"
    "NAME BUFFERS\n"
    "NAME\t\t\tNumber\tFlag\tFlagStatus\tNameType\n"
    "=====================================================================\n"
    "[KORVEL          ]\t\t   2\t 84 \tREGISTERED\tGROEP_NAME\n";

std::string Field(const UCHAR (&field)[NCBNAMSZ]) {
    return std::string(reinterpret_cast<const char *>(field), 16);
}

const std::string kStarName = "*               ";

std::size_t Count(const std::string &text, const std::string &part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Answers "Invoer" as the operator does: checks the text offered, types a
// new one and confirms it with Ok.
class AnswerInput : public wxExpectModalBase<CInputDlg, AnswerInput> {
public:
    AnswerInput(std::string offered, std::string typed)
        : m_offered(std::move(offered)), m_typed(std::move(typed)) {}

protected:
    int OnInvoked(CInputDlg *input) const override {
        EXPECT_EQ(input->GetTitle(), "Invoer");
        EXPECT_EQ(Text(*input, IDC_INPUT), m_offered);
        SetText(*input, IDC_INPUT, m_typed);
        input->OnOK();
        return wxID_OK;
    }

private:
    std::string m_offered, m_typed;
};

// Answers "Invoer" with Escape, after checking the text offered.
class CancelInput : public wxExpectModalBase<CInputDlg, CancelInput> {
public:
    explicit CancelInput(std::string offered) : m_offered(std::move(offered)) {}

protected:
    int OnInvoked(CInputDlg *input) const override {
        EXPECT_EQ(Text(*input, IDC_INPUT), m_offered);
        SetText(*input, IDC_INPUT, "WEGGOOIEN");
        return wxID_CANCEL;
    }

private:
    std::string m_offered;
};

// Expects the About box and closes it with the given result.
class ExpectAbout : public wxExpectModalBase<CAboutDlg, ExpectAbout> {
public:
    explicit ExpectAbout(int result) : m_result(result) {}

protected:
    int OnInvoked(CAboutDlg *about) const override {
        EXPECT_EQ(about->GetTitle(), "About Korvel");
        return m_result;
    }

private:
    int m_result;
};

TEST_F(ConsoleTest, AdapterReportUsesTheLanaTypedForAResetAndLeavesItForTheSessionReport) {
    // Typed while preparing a reset that is then abandoned.
    Click(*dlg, IDC_RESET);
    SetText(*dlg, IDC_LANA, "3");
    Click(*dlg, IDC_BACK);

    scripted::Push(Reply(AdapterReply(1, 1)));
    wxTEST_DIALOG(Click(*dlg, IDC_OWNADAPTER), ExpectBox(kOneNameReport, "AdapterStatus"));
    ASSERT_EQ(scripted::Log().size(), 1u);
    const NCB &astat = scripted::Log()[0].ncb;
    EXPECT_EQ(astat.ncb_command, NCBASTAT);
    EXPECT_EQ(astat.ncb_lana_num, 3);
    EXPECT_EQ(Field(astat.ncb_callname), kStarName);
    EXPECT_EQ(astat.ncb_length, 4000);
    EXPECT_EQ(dlg->m_block.ncb_lana_num, 3);

    // The Lsn field does not select a session; the request goes to LANA 3.
    SetText(*dlg, IDC_LSN, "7");
    Bytes sessions;
    Append(sessions, SESSION_HEADER{0xFF, 0, 0, 0});
    scripted::Push(Reply(sessions));
    wxTEST_DIALOG(Click(*dlg, IDC_OWNSESSIONS),
                  ExpectBox("Session Name: 255 Number Sessions: 0 RcvDG: 0 RcvAny: 0\n", "SessionStatus"));
    ASSERT_EQ(scripted::Log().size(), 2u);
    const NCB &sstat = scripted::Log()[1].ncb;
    EXPECT_EQ(sstat.ncb_command, NCBSSTAT);
    EXPECT_EQ(sstat.ncb_lana_num, 3);
    EXPECT_EQ(sstat.ncb_lsn, 7);
    EXPECT_EQ(Field(sstat.ncb_name), kStarName);
    EXPECT_EQ(sstat.ncb_length, 4000);
    EXPECT_EQ(Field(dlg->m_block.ncb_name), kStarName);
    EXPECT_EQ(dlg->m_block.ncb_lsn, 7);

    // A delete executed next acts on the name the report left behind.
    Click(*dlg, IDC_DELNAME);
    SetText(*dlg, IDC_NUM, "2");
    Click(*dlg, IDC_EXECUTE);
    ASSERT_EQ(scripted::Log().size(), 3u);
    EXPECT_EQ(scripted::Log()[2].ncb.ncb_command, NCBDELNAME);
    EXPECT_EQ(Field(scripted::Log()[2].ncb.ncb_name), kStarName);
}

TEST_F(ConsoleTest, ReportsReadTheirFieldsAsAtoiDoesAndLeaveTheSelectionAlone) {
    Click(*dlg, IDC_CALL);
    SetText(*dlg, IDC_LANA, "-1");
    scripted::Push(Reply(AdapterReply(0, 0)));
    wxTEST_DIALOG(Click(*dlg, IDC_OWNADAPTER), InspectBox([](const std::string &, const std::string &) {}));
    ASSERT_EQ(scripted::Log().size(), 1u);
    EXPECT_EQ(scripted::Log()[0].ncb.ncb_lana_num, 255);

    SetText(*dlg, IDC_LSN, "258 sessies");
    Bytes sessions;
    Append(sessions, SESSION_HEADER{0xFF, 0, 0, 0});
    scripted::Push(Reply(sessions));
    wxTEST_DIALOG(Click(*dlg, IDC_OWNSESSIONS), InspectBox([](const std::string &, const std::string &) {}));
    ASSERT_EQ(scripted::Log().size(), 2u);
    EXPECT_EQ(scripted::Log()[1].ncb.ncb_lsn, 2);

    // The call stays selected.
    EXPECT_EQ(dlg->m_pending, CMD_CALL);
    EXPECT_TRUE(Enabled(*dlg, IDC_CONTACT));
    EXPECT_TRUE(Enabled(*dlg, IDC_EXECUTE));
    EXPECT_TRUE(Enabled(*dlg, IDC_BACK));
}

TEST_F(ConsoleTest, FailedReportsSayNietGeluktAndLeaveTheResultLinesAlone) {
    SetText(*dlg, IDC_STATUS, "Call gereed LSNnum: 4");
    SetText(*dlg, IDC_RESULT, "Ok......");

    scripted::PushCode(NRC_BRIDGE);
    wxTEST_DIALOG(Click(*dlg, IDC_OWNADAPTER), ExpectBox("Niet Gelukt", "AdapterStatus"));
    scripted::PushCode(NRC_ENVNOTDEF);
    wxTEST_DIALOG(Click(*dlg, IDC_OWNSESSIONS), ExpectBox("Niet Gelukt", "SessionStatus"));

    // Success, but less than the status record: nothing to report.
    scripted::Push(Reply(Bytes(59, 0)));
    wxTEST_DIALOG(Click(*dlg, IDC_OWNADAPTER), ExpectBox("Niet Gelukt", "AdapterStatus"));
    scripted::Push(Reply(Bytes(3, 0)));
    wxTEST_DIALOG(Click(*dlg, IDC_OWNSESSIONS), ExpectBox("Niet Gelukt", "SessionStatus"));

    EXPECT_EQ(Text(*dlg, IDC_STATUS), "Call gereed LSNnum: 4");
    EXPECT_EQ(Text(*dlg, IDC_RESULT), "Ok......");
}

TEST_F(ConsoleTest, ReportsListNoMoreThanTheBufferAndTheReplyHold) {
    // The provider claims 300 names and says it returned more than it was given room for.
    scripted::Push(Reply(AdapterReply(300, 300)));
    std::string shown;
    wxTEST_DIALOG(Click(*dlg, IDC_OWNADAPTER),
                  InspectBox([&shown](const std::string &text, const std::string &) { shown = text; }));
    EXPECT_EQ(Count(shown, "REGISTERED"), 218u);
    EXPECT_NE(shown.find("Names: 300\n"), std::string::npos);

    // Three names claimed, one and a bit returned.
    Bytes partial = AdapterReply(3, 2);
    partial.pop_back();
    scripted::Push(Reply(partial));
    wxTEST_DIALOG(Click(*dlg, IDC_OWNADAPTER),
                  InspectBox([&shown](const std::string &text, const std::string &) { shown = text; }));
    EXPECT_EQ(Count(shown, "REGISTERED"), 1u);
}

TEST_F(ConsoleTest, RemoteQueryChoosesNameOrAddressAndRemembersTheText) {
    // Cancelled: nothing is asked and the text offered stays "*".
    wxTEST_DIALOG(Click(*dlg, IDC_REMADAPTER), CancelInput("*"));
    EXPECT_TRUE(scripted::Log().empty());
    EXPECT_EQ(dlg->m_remoteName, "*");

    // "*" confirmed unchanged is a name: the local adapter.
    SetText(*dlg, IDC_LANA, "2");
    scripted::Push(Reply(AdapterReply(1, 1)));
    wxTEST_DIALOG(Click(*dlg, IDC_REMADAPTER), AnswerInput("*", "*"),
                  ExpectBox(kOneNameReport, "AdapterStatus"));
    ASSERT_EQ(scripted::Log().size(), 1u);
    EXPECT_EQ(Field(scripted::Log()[0].ncb.ncb_callname), kStarName);
    EXPECT_EQ(scripted::Log()[0].ncb.ncb_lana_num, 2);

    struct Case {
        const char *typed;
        std::string callname;
    };
    const std::string zeros(10, '\0');
    const Case cases[] = {
        {"CAFE", zeros + std::string("\0\0\0\0\xCA\xFE", 6)},
        {"0A1B2C3D4E5F", zeros + "\x0A\x1B\x2C\x3D\x4E\x5F"},
        {"0A1B2C3D4E5F7", zeros + "\x0A\x1B\x2C\x3D\x4E\x5F"},
        {"", std::string(16, '\0')},
        {"SERVER01", "SERVER01        "},
        {"123456789ABCDEF0123", "123456789ABCDEF0"},
    };
    std::string offered = "*";
    for (const Case &c : cases) {
        scripted::PushCode(NRC_CMDTMO);  // a failed query still keeps the text
        const std::size_t before = scripted::Log().size();
        wxTEST_DIALOG(Click(*dlg, IDC_REMADAPTER), AnswerInput(offered, c.typed),
                      ExpectBox("Niet Gelukt", "AdapterStatus"));
        ASSERT_EQ(scripted::Log().size(), before + 1) << c.typed;
        const NCB &ncb = scripted::Log().back().ncb;
        EXPECT_EQ(ncb.ncb_command, NCBASTAT);
        EXPECT_EQ(Field(ncb.ncb_callname), c.callname) << c.typed;
        EXPECT_EQ(dlg->m_remoteName, c.typed);
        offered = c.typed;
    }

    // Cancelling keeps the text confirmed last.
    wxTEST_DIALOG(Click(*dlg, IDC_REMADAPTER), CancelInput(offered));
    EXPECT_EQ(dlg->m_remoteName, offered);
}

TEST_F(ConsoleTest, SystemMenuEndsWithTheAboutEntryWhichOpensTheAboutBox) {
    CMenu *menu = dlg->GetSystemMenu(false);
    ASSERT_NE(menu, nullptr);
    const int n = menu->GetMenuItemCount();
    ASSERT_GE(n, 2);
    EXPECT_EQ(menu->GetItem(n - 2).flags & MF_SEPARATOR, MF_SEPARATOR);
    const CMenu::Item &about = menu->GetItem(n - 1);
    EXPECT_EQ(about.id, IDM_ABOUTBOX);
    EXPECT_EQ(about.text, "&About Korvel...");

    wxTEST_DIALOG(dlg->SendSysCommand(about.id), ExpectAbout(wxID_OK));
    // The low four bits are the system's own.
    wxTEST_DIALOG(dlg->SendSysCommand(IDM_ABOUTBOX | 0x7), ExpectAbout(wxID_CANCEL));
    // Another command opens nothing and leaves the console as it was.
    {
        wxTestingModalHook noDialog(__FILE__, __LINE__);
        dlg->SendSysCommand(0x20);
        noDialog.CheckUnmetExpectations();
    }
    EXPECT_TRUE(dlg->IsShown());
    EXPECT_TRUE(Enabled(*dlg, IDC_RESET));
    EXPECT_TRUE(scripted::Log().empty());
}

TEST_F(ConsoleTest, LastEntryOfTheContextMenuOpensTheAboutBox) {
    dlg->Raise();
    dlg->SetFocus();
    Settle();
    // Up from the top wraps to the last entry, as after Shift+F10.
    wxTimer chooser;
    chooser.Bind(wxEVT_TIMER, [](wxTimerEvent &) {
        wxUIActionSimulator keys;
        keys.Char(WXK_UP);
        keys.Char(WXK_RETURN);
    });
    chooser.StartOnce(300);
    wxContextMenuEvent menu(wxEVT_CONTEXT_MENU, dlg->GetId(), wxDefaultPosition);
    menu.SetEventObject(dlg);
    wxTEST_DIALOG(dlg->GetEventHandler()->ProcessEvent(menu), ExpectAbout(wxID_OK));
    // Closing the About box returns to the console unchanged.
    EXPECT_TRUE(dlg->IsShown());
    EXPECT_TRUE(Enabled(*dlg, IDC_RESET));
    EXPECT_FALSE(Enabled(*dlg, IDC_EXECUTE));
}

TEST_F(ConsoleTest, AboutBoxShowsNameVersionAndIcon) {
    CAboutDlg about;
    ASSERT_TRUE(about.Create());
    EXPECT_EQ(about.GetTitle(), "About Korvel");
    std::vector<std::string> texts;
    const wxStaticBitmap *icon = nullptr;
    const wxButton *ok = nullptr;
    for (wxWindow *child : about.GetChildren()) {
        if (auto *text = dynamic_cast<wxStaticText *>(child)) texts.push_back(FromToolkit(text->GetLabel()));
        if (auto *bitmap = dynamic_cast<wxStaticBitmap *>(child)) icon = bitmap;
        if (auto *button = dynamic_cast<wxButton *>(child)) ok = button;
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Korvel Version 1.0", version_info::kAboutLine}));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->GetBitmap().GetWidth(), 32);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->GetId(), wxID_OK);
    EXPECT_EQ(ok->GetLabel(), "OK");
    EXPECT_EQ(about.GetDefaultItem(), ok);
}

TEST_F(ConsoleTest, WindowCarriesBothIconImagesAndOffersTheBigOneForDragging) {
    ASSERT_NE(dlg->m_hIcon, nullptr);
    EXPECT_EQ(dlg->m_hIcon->GetWidth(), 32);
    EXPECT_EQ(dlg->m_hIcon->GetHeight(), 32);
    EXPECT_EQ(dlg->QueryDragIcon(), dlg->m_hIcon);

    const wxIconBundle icons = dlg->GetIcons();
    const wxIcon big = icons.GetIcon(32, wxIconBundle::FALLBACK_NONE);
    const wxIcon small = icons.GetIcon(16, wxIconBundle::FALLBACK_NONE);
    ASSERT_TRUE(big.IsOk());
    ASSERT_TRUE(small.IsOk());
    // The small one is the image drawn at 16x16, not the big one scaled:
    // its bus terminators reach the left edge in dark red.
    const wxImage image = wxBitmap(small).ConvertToImage();
    EXPECT_EQ(image.GetRed(0, 14), 0x80);
    EXPECT_EQ(image.GetGreen(0, 14), 0x00);
    EXPECT_EQ(image.GetBlue(0, 14), 0x00);
}

}  // namespace
}  // namespace console_test

namespace console_test {
namespace {

// "Invoer" run for real: the operator types and presses Enter, or Escape.
int RunInputWithKey(CInputDlg &input, const std::string &typed, int key) {
    wxTheApp->CallAfter([&input, typed, key] {
        SetText(input, IDC_INPUT, typed);
        wxWindow *edit = input.GetDlgItem(IDC_INPUT)->GetWxWindow();
        input.Raise();
        edit->SetFocus();
        Settle();
        wxUIActionSimulator keyboard;
        keyboard.Char(key);
        // GTK shows a pressed button for a moment before it clicks it.
        for (int i = 0; i < 40 && input.IsModal(); ++i) Settle();
        // Should the key have gone astray, end the box so the test can fail.
        if (input.IsModal()) input.EndModal(wxID_ABORT);
    });
    return input.DoModal();
}

TEST_F(ConsoleTest, InvoerConfirmsWithEnterAndCancelsWithEscape) {
    dlg->Hide();
    {
        CInputDlg input;
        input.m_text = CString("*");
        EXPECT_EQ(RunInputWithKey(input, "0A1B2C3D4E5F", WXK_RETURN), IDOK);
        EXPECT_EQ(input.m_text, "0A1B2C3D4E5F");
    }
    {
        CInputDlg input;
        input.m_text = CString("*");
        EXPECT_EQ(RunInputWithKey(input, "WEG", WXK_ESCAPE), IDCANCEL);
        EXPECT_EQ(input.m_text, "*");
    }
}

}  // namespace
}  // namespace console_test
