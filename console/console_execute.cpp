// SPDX-License-Identifier: MIT
// Command execution: runs the pending command through the control block and
// shows its outcome in the status line, the return-code line and the fields
// that later commands read.
#include <cstdlib>
#include <string>

#include "console_dlg.h"
#include "send_guard.h"

namespace {
constexpr WORD kReceiveLength = 4000;
constexpr unsigned kFileReadLength = 9999;

UCHAR LowByte(long value) {
    return UCHAR(value & 0xFF);
}

int FieldNumber(CConsoleDlg &dlg, int id) {
    CString text;
    dlg.GetDlgItemText(id, text);
    return std::atoi(text);
}

void SetStatus(CConsoleDlg &dlg, const char *text) {
    dlg.SetDlgItemText(IDC_STATUS, text);
}

// Same start for every command: adapter number from the Lana field into the
// block (a reset takes it afterwards), the opening text, and a repaint so the
// text shows while the command blocks.
void BeginCommand(CConsoleDlg &dlg, const char *opening, bool setsLanaFirst) {
    dlg.UpdateData(true);  // a Lana text that is no number is reported; m_lana keeps its value
    if (setsLanaFirst) dlg.m_block.ncb_lana_num = LowByte(dlg.m_lana);
    SetStatus(dlg, opening);
    dlg.UpdateWindow();
}

void RunReset(CConsoleDlg &dlg) {
    BeginCommand(dlg, "NetBiosReset start..", false);
    const UCHAR code = ResetAdapter(32, 32, LowByte(dlg.m_lana));
    dlg.m_block.ncb_lana_num = LowByte(dlg.m_lana);
    SetStatus(dlg, "NetBiosReset gereed");
    dlg.ShowResult(code);
}

void RunAddName(CConsoleDlg &dlg) {
    BeginCommand(dlg, "AddName start..", true);
    CString name;
    dlg.GetDlgItemText(IDC_OWNNAME, name);
    dlg.m_block.ncb_length = 0;
    dlg.m_block.AddName(name);
    CString text;
    text.Format("AddName gereed Num: %u", unsigned(dlg.m_block.ncb_num));
    SetStatus(dlg, text);
    text.Format("%u", unsigned(dlg.m_block.ncb_num));
    dlg.SetDlgItemText(IDC_NUM, text);
    dlg.ShowResult(dlg.m_block.ncb_retcode);
}

void RunDeleteName(CConsoleDlg &dlg) {
    BeginCommand(dlg, "DeleteName start..", true);
    const int number = FieldNumber(dlg, IDC_NUM);
    dlg.m_block.DeleteName(LowByte(number));
    CString text;
    text.Format("Delete naam: %u gereed...", unsigned(number));
    SetStatus(dlg, text);
    dlg.ShowResult(dlg.m_block.ncb_retcode);
}

// Listen and call differ only in the block command and their texts.
void RunListenOrCall(CConsoleDlg &dlg, bool listen) {
    BeginCommand(dlg, listen ? "Listen start.." : "CallName start..", true);
    CString remote, local;
    dlg.GetDlgItemText(IDC_CONTACT, remote);
    dlg.GetDlgItemText(IDC_OWNNAME, local);
    if (listen)
        dlg.m_block.Listen(remote, local, nullptr);
    else
        dlg.m_block.Call(remote, local, nullptr);
    CString text;
    text.Format("%u", unsigned(dlg.m_block.ncb_lsn));
    dlg.SetDlgItemText(IDC_LSN, text);
    text.Format(listen ? "Listen gereed LSNnum: %u" : "Call gereed LSNnum: %u",
                unsigned(dlg.m_block.ncb_lsn));
    SetStatus(dlg, text);
    dlg.ShowResult(dlg.m_block.ncb_retcode);
}

void RunHangup(CConsoleDlg &dlg) {
    BeginCommand(dlg, "Hangup start..", true);
    const int number = FieldNumber(dlg, IDC_NUM);
    const int session = FieldNumber(dlg, IDC_LSN);
    dlg.m_block.Hangup(LowByte(session), LowByte(number), false);
    SetStatus(dlg, "Hangup gereed");
    dlg.ShowResult(dlg.m_block.ncb_retcode);
}

// The file named in the message field, read in text mode into `data` and
// terminated; false, after telling the operator, when it cannot be opened or
// gives no data.
bool ReadMessageFile(CConsoleDlg &dlg, const CString &message, char (&data)[kFileReadLength + 1]) {
    // Opened by the name as this system spells it; the boxes show it as typed.
    const std::string path = dlg.GetDlgItem(IDC_MESSAGE)->GetWindowTextAsPath();
    const int fd = _sopen(path.c_str(), _O_RDONLY | _O_TEXT, _SH_DENYNO);
    if (fd == -1) {
        dlg.MessageBox("De file is niet te openen", message, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    const int got = _read(fd, data, kFileReadLength);
    if (got <= 0) {
        dlg.MessageBox("De file is niet te lezen", message, MB_OK | MB_ICONINFORMATION);
        _close(fd);
        return false;
    }
    data[got] = '\0';
    _close(fd);
    return true;
}

void RunSend(CConsoleDlg &dlg) {
    BeginCommand(dlg, "Send start..", true);
    const int session = FieldNumber(dlg, IDC_LSN);
    CString message;
    dlg.GetDlgItemText(IDC_MESSAGE, message);
    const char *data = message;
    char fileData[kFileReadLength + 1];
    if (dlg.IsDlgButtonChecked(IDC_FILEMSG)) {
        if (!ReadMessageFile(dlg, message, fileData)) return;
        data = fileData;  // sent up to its first NUL byte
    }
    if (!SendLengthFits(dlg, data)) return;
    dlg.m_block.Send(LowByte(session), data, false);
    SetStatus(dlg, "Send gereed");
    dlg.ShowResult(dlg.m_block.ncb_retcode);
}

void RunReceive(CConsoleDlg &dlg) {
    BeginCommand(dlg, "Receive start..", true);
    const int session = FieldNumber(dlg, IDC_LSN);
    // Cleared, so a failed receive shows nothing older than this command.
    char received[kReceiveLength + 1] = {};
    dlg.m_block.Receive(LowByte(session), received, kReceiveLength, false);
    SetStatus(dlg, "Receive gereed");
    const WORD length = dlg.m_block.ncb_length < kReceiveLength ? dlg.m_block.ncb_length : kReceiveLength;
    received[length] = '\0';
    dlg.SetDlgItemText(IDC_MESSAGE, received);
    dlg.ShowResult(dlg.m_block.ncb_retcode);
}

}  // namespace

void CConsoleDlg::OnExecute() {
    for (bool again = true; again;) {
        SetControlState(STATE_BUSY);
        ShowResult(RESULT_BUSY);
        UpdateWindow();
        const int command = m_pending;
        switch (command) {
            case CMD_RESET:
                RunReset(*this);
                break;
            case CMD_ADDNAME:
                RunAddName(*this);
                break;
            case CMD_DELNAME:
                RunDeleteName(*this);
                break;
            case CMD_LISTEN:
            case CMD_CALL:
                RunListenOrCall(*this, command == CMD_LISTEN);
                break;
            case CMD_HANGUP:
                RunHangup(*this);
                break;
            case CMD_SEND:
                RunSend(*this);
                break;
            case CMD_RECEIVE:
                RunReceive(*this);
                break;
            default:
                break;
        }
        // Received data follows a listen when asked for, whatever its outcome.
        again = command == CMD_LISTEN && IsDlgButtonChecked(IDC_RXDATLISTEN);
        if (again) m_pending = CMD_RECEIVE;
        SetControlState(STATE_IDLE);
    }
}

void CConsoleDlg::ShowResult(int code) {
    CString text;
    if (code == RESULT_BUSY)
        text = "BEZIG.......";
    else if (code == NRC_GOODRET)
        text = "Ok......";
    else
        text.Format("RetCode: %02X [%d]", unsigned(code), code);
    SetDlgItemText(IDC_RESULT, text);
}
