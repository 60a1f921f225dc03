// SPDX-License-Identifier: MIT
// The console window as the template makes it: every control with its id,
// kind, text and initial state, the routing of every control, and closing.
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <vector>

#include "console_fixture.h"

namespace console_test {
namespace {

enum Kind { Button, DefaultButton, Label, Edit, ReadOnly, CheckBox };

struct ExpectedControl {
    int id;  // written out, not taken from resource.h: a wrong value must fail
    Kind kind;
    const char *text;
    bool enabled;
};

// In tab order; labels have no id of their own.
const std::vector<ExpectedControl> kTemplate = {
    {1000, Button, "&Reset Adapter", true},
    {1004, Button, "&Naam toevoegen", true},
    {1005, Button, "Naam &Verwijderen", true},
    {1001, Button, "&Listen plaatsen", true},
    {1002, Button, "&Call plaatsen", true},
    {1003, Button, "&Hangup plaatsen", true},
    {1009, Button, "&Data Zenden", true},
    {3, Button, "Data &Ontvangen", true},
    {-1, Label, "Eigen naam", true},
    {1007, Edit, "", false},
    {-1, Label, "Contact naam", true},
    {1008, Edit, "", false},
    {-1, Label, "Bericht", true},
    {1010, Edit, "", false},
    {-1, Label, "Resultaat", true},
    {1011, ReadOnly, "", true},
    {1006, DefaultButton, "Opdr. uitvoe&ren", false},
    {-1, Label, "Lana", true},
    {1012, Edit, "0", false},
    {-1, Label, "Status", true},
    {1013, ReadOnly, "", true},
    {-1, Label, "Num", true},
    {1014, Edit, "", false},
    {-1, Label, "Lsn", true},
    {1016, Edit, "", false},
    {1015, Button, "Eigen sessions", true},
    {1017, Button, "Eigen adapter", true},
    {1018, CheckBox, "Rxd bij listen", false},
    {1019, Button, "Lana nummers", true},
    {1021, Button, "Rem adapter", true},
    {1020, CheckBox, "File bericht", false},
    {1022, Button, "Terug", false},
};

TEST_F(ConsoleTest, TemplateHasEveryControlInTabOrderWithItsInitialState) {
    std::vector<wxWindow *> children(dlg->GetChildren().begin(), dlg->GetChildren().end());
    ASSERT_EQ(children.size(), kTemplate.size());
    for (std::size_t i = 0; i < kTemplate.size(); ++i) {
        const ExpectedControl &want = kTemplate[i];
        wxWindow *child = children[i];
        SCOPED_TRACE(testing::Message() << "control " << i << " \"" << want.text << "\"");
        if (want.id >= 0) {
            EXPECT_EQ(child->GetId(), want.id);
        }
        switch (want.kind) {
            case Button:
            case DefaultButton: {
                auto *button = dynamic_cast<wxButton *>(child);
                ASSERT_NE(button, nullptr);
                EXPECT_EQ(FromToolkit(button->GetLabel()), want.text);
                EXPECT_EQ(dlg->GetDefaultItem() == button, want.kind == DefaultButton);
                break;
            }
            case Label:
                ASSERT_NE(dynamic_cast<wxStaticText *>(child), nullptr);
                EXPECT_EQ(FromToolkit(child->GetLabel()), want.text);
                break;
            case Edit:
            case ReadOnly: {
                auto *edit = dynamic_cast<wxTextCtrl *>(child);
                ASSERT_NE(edit, nullptr);
                EXPECT_EQ(FromToolkit(edit->GetValue()), want.text);
                EXPECT_EQ(!edit->IsEditable(), want.kind == ReadOnly);
                EXPECT_FALSE(edit->IsMultiLine());
                break;
            }
            case CheckBox: {
                auto *box = dynamic_cast<wxCheckBox *>(child);
                ASSERT_NE(box, nullptr);
                EXPECT_EQ(FromToolkit(box->GetLabel()), want.text);
                EXPECT_FALSE(box->GetValue());
                break;
            }
        }
        EXPECT_EQ(child->IsThisEnabled(), want.enabled);
    }
    EXPECT_EQ(FromToolkit(dlg->GetTitle()), "Korvel");
    EXPECT_EQ(dlg->m_lana, 0u);
    EXPECT_EQ(dlg->m_remoteName, "*");
    EXPECT_TRUE(scripted::Log().empty()) << "opening the console submits nothing";
}

struct TableOf : CConsoleDlg {
    static const wxEventTable &Get() { return CConsoleDlg::sm_eventTable; }
};

TEST_F(ConsoleTest, EveryControlIdIsRoutedToItsHandler) {
    // Which handler a click reaches is seen from what it does; the report
    // buttons of other files are checked in the table itself.
    const std::vector<std::pair<int, int>> commands = {
        {1000, CMD_RESET}, {1004, CMD_ADDNAME}, {1005, CMD_DELNAME}, {1001, CMD_LISTEN},
        {1002, CMD_CALL},  {1003, CMD_HANGUP},  {1009, CMD_SEND},    {3, CMD_RECEIVE},
    };
    for (auto [id, code] : commands) {
        Click(*dlg, id);
        EXPECT_EQ(dlg->m_pending, code) << "button " << id;
        Click(*dlg, 1022);  // Terug
        EXPECT_FALSE(Enabled(*dlg, 1022));
    }

    Click(*dlg, 1004);
    SetText(*dlg, IDC_OWNNAME, "ROUTE");
    Click(*dlg, 1006);  // execute
    ASSERT_EQ(scripted::Log().size(), 1u);
    EXPECT_EQ(scripted::Log()[0].ncb.ncb_command, NCBADDNAME);

    wxTEST_DIALOG(Click(*dlg, 1019), ExpectBox("Geldige entries: 0\n", "LanaEnum"));

    // Every click and message has exactly one entry, for the right id.
    std::map<int, int> buttons;
    int sysCommands = 0, paints = 0, dragIcons = 0;
    for (const wxEventTableEntry *entry = TableOf::Get().entries; entry->m_fn; ++entry) {
        if (entry->m_eventType == wxEVT_BUTTON) ++buttons[entry->m_id];
        if (entry->m_eventType == KORVEL_EVT_SYSCOMMAND) ++sysCommands;
        if (entry->m_eventType == wxEVT_PAINT) ++paints;
        if (entry->m_eventType == KORVEL_EVT_QUERYDRAGICON) ++dragIcons;
    }
    const std::map<int, int> expected = {{1000, 1}, {1004, 1}, {1005, 1}, {1001, 1}, {1002, 1},
                                         {1003, 1}, {1009, 1}, {3, 1},    {1006, 1}, {1015, 1},
                                         {1017, 1}, {1019, 1}, {1021, 1}, {1022, 1}};
    EXPECT_EQ(buttons, expected);
    EXPECT_EQ(sysCommands, 1);
    EXPECT_EQ(paints, 1);
    EXPECT_EQ(dragIcons, 1);
}

TEST_F(ConsoleTest, SystemMenuCommandsReachOnSysCommand) {
    CMenu *menu = dlg->GetSystemMenu(false);
    ASSERT_NE(menu, nullptr);
    ASSERT_GE(menu->GetMenuItemCount(), 1);
    EXPECT_EQ(menu->GetItem(0).id, SC_CLOSE);
    // The close entry falls through to the default handling, which closes.
    dlg->SendSysCommand(SC_CLOSE);
    EXPECT_FALSE(dlg->IsShown());
}

TEST_F(ConsoleTest, ContextMenuShowsTheSystemMenuAndSendsTheChosenCommand) {
    // Two entries beyond the defaults; choose the last with the keyboard,
    // as the operator would after Shift+F10.
    dlg->GetSystemMenu(false)->AppendMenu(MF_SEPARATOR);
    dlg->GetSystemMenu(false)->AppendMenu(MF_STRING, SC_CLOSE + 1, "Extra");
    dlg->Raise();
    dlg->SetFocus();
    Settle();
    wxTimer chooser;
    chooser.Bind(wxEVT_TIMER, [](wxTimerEvent &) {
        wxUIActionSimulator keys;
        keys.Char(WXK_UP);
        keys.Char(WXK_RETURN);
    });
    chooser.StartOnce(300);
    wxContextMenuEvent menu(wxEVT_CONTEXT_MENU, dlg->GetId(), wxDefaultPosition);
    menu.SetEventObject(dlg);
    dlg->GetEventHandler()->ProcessEvent(menu);
    // The console's table hands SC_CLOSE + 1 to OnSysCommand, whose default
    // handling closes on any command in the SC_CLOSE group.
    EXPECT_FALSE(dlg->IsShown());
}

TEST_F(ConsoleTest, EscapeEndsTheModalConsole) {
    dlg->Hide();
    CConsoleDlg modal;
    // Once the modal loop runs, press Escape as the operator would.
    wxTheApp->CallAfter([&modal] {
        wxKeyEvent escape(wxEVT_CHAR_HOOK);
        escape.m_keyCode = WXK_ESCAPE;
        escape.SetEventObject(&modal);
        modal.GetEventHandler()->ProcessEvent(escape);
    });
    EXPECT_EQ(modal.DoModal(), IDCANCEL);
}

TEST_F(ConsoleTest, CloseButtonEndsTheModalConsole) {
    dlg->Hide();
    CConsoleDlg modal;
    wxTheApp->CallAfter([&modal] { modal.Close(); });
    EXPECT_EQ(modal.DoModal(), IDCANCEL);
}

}  // namespace
}  // namespace console_test
