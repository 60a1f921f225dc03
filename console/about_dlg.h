// SPDX-License-Identifier: MIT
// The About box: name, version and legal notice, and the icon.
#pragma once

#include "window_system.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
};
