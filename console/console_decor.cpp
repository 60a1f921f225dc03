// SPDX-License-Identifier: MIT
// Window decorations: the About entry of the system menu, the window icons
// and the minimised window's painting.
#include <wx/brush.h>
#include <wx/dcclient.h>
#include <wx/iconbndl.h>
#include <wx/xrc/xmlres.h>

#include "about_dlg.h"
#include "console_dlg.h"

namespace {

// IDR_MAINFRAME carries a 16x16 image drawn for small sizes; it replaces the
// small icon scaled down from the 32x32 one.
void UseDrawnSmallIcon(wxTopLevelWindow &window) {
    wxXmlResource *resources = wxXmlResource::Get();
    if (!resources->GetResourceNode("IDR_MAINFRAME_SMALL")) return;
    wxIcon small;
    small.CopyFromBitmap(resources->LoadBitmap("IDR_MAINFRAME_SMALL"));
    if (!small.IsOk() || small.GetWidth() != 16) return;
    wxIconBundle icons = window.GetIcons();
    icons.AddIcon(small);
    window.SetIcons(icons);
}

}  // namespace

void CConsoleDlg::InitDecorations() {
    // The About entry goes at the end of the system menu, behind a separator.
    if (CMenu *systemMenu = GetSystemMenu(false)) {
        CString about;
        about.LoadString(IDS_ABOUTBOX);
        if (!about.IsEmpty()) {
            systemMenu->AppendMenu(MF_SEPARATOR);
            systemMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    SetIcon(m_hIcon, true);
    SetIcon(m_hIcon, false);
    if (m_hIcon) UseDrawnSmallIcon(*this);
}

void CConsoleDlg::OnSysCommand(UINT nID, LPARAM) {
    // The low four bits of a system command are the system's own.
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
        return;
    }
    Default();
}

void CConsoleDlg::OnPaint() {
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    // Erase the icon's background first.
    dc.Dc().SetBackground(wxBrush(GetBackgroundColour()));
    dc.Dc().Clear();

    // Centre the icon in the client rectangle.
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    CRect rect;
    ::GetClientRect(this, &rect);
    const int x = (rect.Width() - cxIcon + 1) / 2;
    const int y = (rect.Height() - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CConsoleDlg::OnQueryDragIcon() {
    return m_hIcon;
}
