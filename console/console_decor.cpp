// Window decorations: the About entry of the system menu, the window icons
// and the minimised window's painting.
#include "console_dlg.h"

void CConsoleDlg::InitDecorations() {}

void CConsoleDlg::OnSysCommand(UINT, LPARAM) {
    Default();
}

void CConsoleDlg::OnPaint() {
    Default();
}

HCURSOR CConsoleDlg::OnQueryDragIcon() {
    return m_hIcon;
}
