// SPDX-License-Identifier: MIT
// The console: one dialog with eight command buttons, an execute button,
// input fields, a status line and a return-code line, plus four reports.
// Selection (console_select.cpp), execution (console_execute.cpp), reports
// (console_reports.cpp, console_lana.cpp) and window decorations
// (console_decor.cpp) are members of this one class.
#pragma once

#include "console_resources.h"  // the window system must be set up with these first
#include "ncb_block.h"
#include "resource.h"
#include "window_system.h"

// Pending command codes, one per command button.
constexpr int CMD_RESET = 1;
constexpr int CMD_ADDNAME = 2;
constexpr int CMD_DELNAME = 3;
constexpr int CMD_LISTEN = 4;
constexpr int CMD_CALL = 5;
constexpr int CMD_HANGUP = 6;
constexpr int CMD_SEND = 7;
constexpr int CMD_RECEIVE = 8;

// SetControlState selectors that set no pending command.
constexpr int STATE_IDLE = -1;
constexpr int STATE_BUSY = 0;

// ShowResult selector of the busy text.
constexpr int RESULT_BUSY = -2;

class CConsoleDlg : public CDialog {
public:
    explicit CConsoleDlg(CWnd *pParent = nullptr);

    CString m_remoteName;  // last text confirmed for a remote adapter query
    CNcbBlock m_block;     // the reusable network control block
    unsigned int m_lana;   // adapter number, bound to IDC_LANA
    int m_pending;         // pending command code, CMD_RESET to CMD_RECEIVE
    HICON m_hIcon;         // window and minimised icon

    void DoDataExchange(CDataExchange *pDX) override;
    bool OnInitDialog() override;

    // Window decorations: system menu entry, icons, minimised painting.
    void InitDecorations();
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();

    // Command selection.
    void SetControlState(int selector);
    void OnReset();
    void OnAddName();
    void OnDeleteName();
    void OnListen();
    void OnCall();
    void OnHangup();
    void OnSend();
    void OnReceive();
    void OnBack();

    // Command execution.
    void OnExecute();
    void ShowResult(int code);

    // Reports.
    void OnOwnSessions();
    void OnOwnAdapter();
    void ShowAdapterStatus(const char *callname);
    void OnLanaNumbers();
    void OnRemAdapter();
    void HexToAddress(UCHAR *address, const char *text);

private:
    wxDECLARE_EVENT_TABLE();
};
