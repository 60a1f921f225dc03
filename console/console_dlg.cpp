// SPDX-License-Identifier: MIT
// The console dialog: its members, its data exchange and its message table.
#include "console_dlg.h"

CConsoleDlg::CConsoleDlg(CWnd *pParent)
    : CDialog(IDD_CONSOLE, pParent),
      m_remoteName("*"),
      m_lana(0),
      m_pending(0),
      m_hIcon(LoadIconResource(IDR_MAINFRAME)) {}

void CConsoleDlg::DoDataExchange(CDataExchange *pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_LANA, m_lana);
}

bool CConsoleDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    InitDecorations();
    return true;
}

// clang-format off
wxBEGIN_EVENT_TABLE(CConsoleDlg, CDialog)
    ON_WM_SYSCOMMAND(CConsoleDlg)
    ON_WM_PAINT(CConsoleDlg)
    ON_WM_QUERYDRAGICON(CConsoleDlg)
    ON_BN_CLICKED(CConsoleDlg, IDC_RESET, OnReset)
    ON_BN_CLICKED(CConsoleDlg, IDC_ADDNAME, OnAddName)
    ON_BN_CLICKED(CConsoleDlg, IDC_DELNAME, OnDeleteName)
    ON_BN_CLICKED(CConsoleDlg, IDC_LISTEN, OnListen)
    ON_BN_CLICKED(CConsoleDlg, IDC_CALL, OnCall)
    ON_BN_CLICKED(CConsoleDlg, IDC_HANGUP, OnHangup)
    ON_BN_CLICKED(CConsoleDlg, IDC_SEND, OnSend)
    ON_BN_CLICKED(CConsoleDlg, IDC_RECEIVE, OnReceive)
    ON_BN_CLICKED(CConsoleDlg, IDC_EXECUTE, OnExecute)
    ON_BN_CLICKED(CConsoleDlg, IDC_OWNSESSIONS, OnOwnSessions)
    ON_BN_CLICKED(CConsoleDlg, IDC_OWNADAPTER, OnOwnAdapter)
    ON_BN_CLICKED(CConsoleDlg, IDC_LANANUMBERS, OnLanaNumbers)
    ON_BN_CLICKED(CConsoleDlg, IDC_REMADAPTER, OnRemAdapter)
    ON_BN_CLICKED(CConsoleDlg, IDC_BACK, OnBack)
wxEND_EVENT_TABLE()
    // clang-format on
