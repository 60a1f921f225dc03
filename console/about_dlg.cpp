// SPDX-License-Identifier: MIT
#include "about_dlg.h"

#include "resource.h"
#include "version_info.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {
    // The box shows the version data; keep its block in the executable.
    (void)version_info::Block();
}
