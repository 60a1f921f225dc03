// SPDX-License-Identifier: MIT
#include "console_app.h"

#include "console_dlg.h"

bool CConsoleApp::InitInstance() {
    Enable3dControls();
    CConsoleDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // No message loop of our own: closing the console ends the process.
    return false;
}
