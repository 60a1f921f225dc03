// Command execution: runs the pending command through the control block and
// shows its outcome in the status line, the return-code line and the fields
// that later commands read.
#include <cstdlib>
#include <cstring>
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

}  // namespace

void CConsoleDlg::OnExecute() {
    char received[kReceiveLength + 1];
    char fileData[kFileReadLength + 1];
    bool chained = true;
    while (chained) {
        chained = false;
        SetControlState(STATE_BUSY);
        ShowResult(RESULT_BUSY);
        UpdateWindow();
        switch (m_pending) {
            case CMD_RESET: {
                BeginCommand(*this, "NetBiosReset start..", false);
                const UCHAR code = ResetAdapter(32, 32, LowByte(m_lana));
                m_block.ncb_lana_num = LowByte(m_lana);
                SetStatus(*this, "NetBiosReset gereed");
                ShowResult(code);
                break;
            }
            case CMD_ADDNAME: {
                BeginCommand(*this, "AddName start..", true);
                CString name;
                GetDlgItemText(IDC_OWNNAME, name);
                m_block.ncb_length = 0;
                m_block.AddName(name);
                CString text;
                text.Format("AddName gereed Num: %u", unsigned(m_block.ncb_num));
                SetStatus(*this, text);
                text.Format("%u", unsigned(m_block.ncb_num));
                SetDlgItemText(IDC_NUM, text);
                ShowResult(m_block.ncb_retcode);
                break;
            }
            case CMD_DELNAME: {
                BeginCommand(*this, "DeleteName start..", true);
                const int number = FieldNumber(*this, IDC_NUM);
                m_block.DeleteName(LowByte(number));
                CString text;
                text.Format("Delete naam: %u gereed...", unsigned(number));
                SetStatus(*this, text);
                ShowResult(m_block.ncb_retcode);
                break;
            }
            case CMD_LISTEN:
            case CMD_CALL: {
                const bool listen = m_pending == CMD_LISTEN;
                BeginCommand(*this, listen ? "Listen start.." : "CallName start..", true);
                CString remote, local;
                GetDlgItemText(IDC_CONTACT, remote);
                GetDlgItemText(IDC_OWNNAME, local);
                if (listen)
                    m_block.Listen(remote, local, nullptr);
                else
                    m_block.Call(remote, local, nullptr);
                CString text;
                text.Format("%u", unsigned(m_block.ncb_lsn));
                SetDlgItemText(IDC_LSN, text);
                text.Format(listen ? "Listen gereed LSNnum: %u" : "Call gereed LSNnum: %u",
                            unsigned(m_block.ncb_lsn));
                SetStatus(*this, text);
                ShowResult(m_block.ncb_retcode);
                // Received data follows a listen when asked for, whatever its outcome.
                if (listen && IsDlgButtonChecked(IDC_RXDATLISTEN)) {
                    m_pending = CMD_RECEIVE;
                    chained = true;
                }
                break;
            }
            case CMD_HANGUP: {
                BeginCommand(*this, "Hangup start..", true);
                const int number = FieldNumber(*this, IDC_NUM);
                const int session = FieldNumber(*this, IDC_LSN);
                m_block.Hangup(LowByte(session), LowByte(number), false);
                SetStatus(*this, "Hangup gereed");
                ShowResult(m_block.ncb_retcode);
                break;
            }
            case CMD_SEND: {
                BeginCommand(*this, "Send start..", true);
                const int session = FieldNumber(*this, IDC_LSN);
                CString message;
                GetDlgItemText(IDC_MESSAGE, message);
                const char *data = message;
                if (IsDlgButtonChecked(IDC_FILEMSG)) {
                    // Opened by the name as this system spells it; the boxes show it as typed.
                    const std::string path = GetDlgItem(IDC_MESSAGE)->GetWindowTextAsPath();
                    const int fd = _sopen(path.c_str(), _O_RDONLY | _O_TEXT, _SH_DENYNO);
                    if (fd == -1) {
                        MessageBox("De file is niet te openen", message, MB_OK | MB_ICONINFORMATION);
                        break;
                    }
                    const int got = _read(fd, fileData, kFileReadLength);
                    if (got <= 0) {
                        MessageBox("De file is niet te lezen", message, MB_OK | MB_ICONINFORMATION);
                        _close(fd);
                        break;
                    }
                    fileData[got] = '\0';
                    _close(fd);
                    data = fileData;  // sent up to its first NUL byte
                }
                if (!SendLengthFits(*this, data)) break;
                m_block.Send(LowByte(session), data, false);
                SetStatus(*this, "Send gereed");
                ShowResult(m_block.ncb_retcode);
                break;
            }
            case CMD_RECEIVE: {
                BeginCommand(*this, "Receive start..", true);
                const int session = FieldNumber(*this, IDC_LSN);
                // Cleared, so a failed receive shows nothing older than this command.
                std::memset(received, 0, sizeof received);
                m_block.Receive(LowByte(session), received, kReceiveLength, false);
                SetStatus(*this, "Receive gereed");
                const WORD length = m_block.ncb_length < kReceiveLength ? m_block.ncb_length : kReceiveLength;
                received[length] = '\0';
                SetDlgItemText(IDC_MESSAGE, received);
                ShowResult(m_block.ncb_retcode);
                break;
            }
            default:
                break;
        }
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
