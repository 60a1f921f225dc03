// SPDX-License-Identifier: MIT
// "Invoer": asks for the adapter to query, by NetBIOS name or by address.
#pragma once

#include "window_system.h"

class CInputDlg : public CDialog {
public:
    CInputDlg();

    CString m_text;  // the text shown and, after Ok, the text confirmed

    void DoDataExchange(CDataExchange *pDX) override;
};
