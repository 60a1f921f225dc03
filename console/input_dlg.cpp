// SPDX-License-Identifier: MIT
#include "input_dlg.h"

#include "resource.h"

CInputDlg::CInputDlg() : CDialog(IDD_INPUT) {}

void CInputDlg::DoDataExchange(CDataExchange *pDX) {
    DDX_Text(pDX, IDC_INPUT, m_text);
}
