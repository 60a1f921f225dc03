// SPDX-License-Identifier: MIT
#include "ws_wnd.h"

#include <wx/checkbox.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>  // declares the generic box too
#include <wx/textentry.h>
#include <wx/toplevel.h>
#include <wx/window.h>

#include "ws_codepage.h"
#include "ws_tabs.h"

int CWnd::GetDlgCtrlID() const {
    return m_wnd ? m_wnd->GetId() : 0;
}

bool CWnd::EnableWindow(bool enable) {
    // The framework answers whether the window was disabled before.
    const bool wasDisabled = m_wnd && !m_wnd->IsThisEnabled();
    if (m_wnd) m_wnd->Enable(enable);
    return wasDisabled;
}

bool CWnd::IsWindowEnabled() const {
    return m_wnd && m_wnd->IsThisEnabled();
}

void CWnd::SetWindowText(const char *text) {
    if (!m_wnd) return;
    const wxString value = ToToolkit(text ? text : "");
    if (auto *entry = dynamic_cast<wxTextEntry *>(m_wnd))
        entry->ChangeValue(value);
    else
        m_wnd->SetLabel(value);
}

void CWnd::GetWindowText(CString &text) const {
    if (!m_wnd) {
        text.Empty();
        return;
    }
    if (auto *entry = dynamic_cast<wxTextEntry *>(m_wnd))
        text = CString(FromToolkit(entry->GetValue()));
    else
        text = CString(FromToolkit(m_wnd->GetLabel()));
}

std::string CWnd::GetWindowTextAsPath() const {
    if (!m_wnd) return {};
    auto *entry = dynamic_cast<wxTextEntry *>(m_wnd);
    const wxString text = entry ? entry->GetValue() : m_wnd->GetLabel();
    return std::string(text.utf8_str());
}

int CWnd::GetWindowTextLength() const {
    CString text;
    GetWindowText(text);
    return text.GetLength();
}

int CWnd::GetCheck() const {
    auto *box = dynamic_cast<wxCheckBox *>(m_wnd);
    return box && box->GetValue() ? BST_CHECKED : BST_UNCHECKED;
}

void CWnd::SetCheck(int state) {
    if (auto *box = dynamic_cast<wxCheckBox *>(m_wnd)) box->SetValue(state == BST_CHECKED);
}

LPARAM CWnd::SendMessage(UINT message, LPARAM, LPARAM) const {
    return message == BM_GETCHECK ? GetCheck() : 0;
}

void CWnd::UpdateWindow() {
    if (!m_wnd) return;
    // GTK draws the whole top-level window in one pass; flushing it makes
    // the texts set so far visible before a blocking command starts.
    wxWindow *top = wxGetTopLevelParent(m_wnd);
    (top ? top : m_wnd)->Update();
}

namespace {
// The generic box, unlike GTK's own, shows the information icon. Reports line
// up in columns: a fixed-width font, and tab stops at the width that lines
// their headings up with their rows. The box keeps the text as passed; only
// what is drawn has its tabs expanded.
class MessageBoxDialog : public wxGenericMessageDialog {
public:
    MessageBoxDialog(wxWindow *parent, std::string_view text, const char *caption)
        : wxGenericMessageDialog(parent, ToToolkit(text), ToToolkit(caption), wxOK | wxICON_INFORMATION),
          m_tabular(text.find_first_of("\t\n") != std::string_view::npos),
          m_shown(m_tabular ? ToToolkit(ExpandTabs(text, AligningTabWidth(text))) : ToToolkit(text)) {
        if (m_tabular) SetFont(wxFontInfo().Family(wxFONTFAMILY_TELETYPE));
    }

    int ShowModal() override {
        WX_HOOK_MODAL_DIALOG();  // a test answering the box sees the text as passed
        SetMessage(m_shown);
        return wxGenericMessageDialog::ShowModal();
    }

private:
    bool m_tabular;
    wxString m_shown;
};
}  // namespace

int CWnd::MessageBox(const char *text, const char *caption, UINT) {
    const std::string_view body = text ? text : "";
    wxWindow *parent = m_wnd ? wxGetTopLevelParent(m_wnd) : nullptr;
    // The generic box, unlike GTK's own, shows the information icon.
    MessageBoxDialog box(parent, body, caption ? caption : "Korvel");
    box.ShowModal();
    return IDOK;
}

bool CMenu::AppendMenu(UINT flags, UINT id, const char *text) {
    m_items.push_back({flags, id, CString(text)});
    return true;
}
