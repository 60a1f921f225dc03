// SPDX-License-Identifier: MIT
#include "console_fixture.h"

#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/textentry.h>

#include <chrono>
#include <thread>

namespace console_test {

void Settle() {
    for (int i = 0; i < 10; ++i) {
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string Text(CDialog &dlg, int id) {
    CString text;
    dlg.GetDlgItemText(id, text);
    return text.str();
}

bool Enabled(CDialog &dlg, int id) {
    CWnd *item = dlg.GetDlgItem(id);
    return item && item->IsWindowEnabled();
}

bool Checked(CDialog &dlg, int id) {
    return dlg.IsDlgButtonChecked(id) != 0;
}

void SetText(CDialog &dlg, int id, const std::string &text) {
    dlg.SetDlgItemText(id, text.c_str());
}

void SetChecked(CDialog &dlg, int id, bool checked) {
    if (CWnd *item = dlg.GetDlgItem(id)) item->SetCheck(checked ? BST_CHECKED : BST_UNCHECKED);
}

void Click(CDialog &dlg, int id) {
    CWnd *item = dlg.GetDlgItem(id);
    ASSERT_NE(item, nullptr) << "no control " << id;
    // A synthetic event ignores the disabled state; the operator cannot.
    ASSERT_TRUE(item->IsWindowEnabled()) << "control " << id << " is disabled";
    wxWindow *window = item->GetWxWindow();
    wxCommandEvent click(wxEVT_BUTTON, window->GetId());
    click.SetEventObject(window);
    window->GetEventHandler()->ProcessEvent(click);
}

int ExpectBox::OnInvoked(wxGenericMessageDialog *box) const {
    EXPECT_EQ(FromToolkit(box->GetMessage()), m_text);
    EXPECT_EQ(FromToolkit(box->GetCaption()), m_caption);
    EXPECT_TRUE(box->GetMessageDialogStyle() & wxICON_INFORMATION);
    EXPECT_TRUE(box->GetMessageDialogStyle() & wxOK);
    return wxID_OK;
}

int InspectBox::OnInvoked(wxGenericMessageDialog *box) const {
    EXPECT_TRUE(box->GetMessageDialogStyle() & wxICON_INFORMATION);
    m_check(FromToolkit(box->GetMessage()), FromToolkit(box->GetCaption()));
    return wxID_OK;
}

void ConsoleTest::SetUp() {
    scripted::Clear();
    dlg = new CConsoleDlg;
    ASSERT_TRUE(dlg->Create());
    dlg->Show();
    Settle();
}

void ConsoleTest::TearDown() {
    if (dlg) dlg->Destroy();
    Settle();
    scripted::Clear();
}

void ConsoleTest::Run(int commandButton) {
    Click(*dlg, commandButton);
    Click(*dlg, IDC_EXECUTE);
}

}  // namespace console_test
