// SPDX-License-Identifier: MIT
// Command selection: a command button makes its command pending and enables
// the inputs the operator fills in for it; "Terug" abandons the choice.
#include <array>

#include "console_dlg.h"

namespace {
constexpr std::array kCommandButtons = {IDC_RESET, IDC_ADDNAME, IDC_DELNAME, IDC_LISTEN,
                                        IDC_CALL,  IDC_HANGUP,  IDC_SEND,    IDC_RECEIVE};
constexpr std::array kInputs = {IDC_OWNNAME, IDC_CONTACT, IDC_MESSAGE, IDC_LANA, IDC_NUM};
constexpr std::array kExtras = {IDC_LSN, IDC_RXDATLISTEN, IDC_FILEMSG};

// The inputs and extras each command enables, indexed by command code.
struct Enabled {
    std::array<bool, kInputs.size()> inputs;  // own name, contact, message, lana, num
    std::array<bool, kExtras.size()> extras;  // lsn, rxd bij listen, file bericht
};
constexpr std::array<Enabled, 9> kEnabled = {{
    {{}, {}},                                                    // (no command 0)
    {{false, false, false, true, false}, {}},                    // CMD_RESET
    {{true, false, false, false, false}, {}},                    // CMD_ADDNAME
    {{false, false, false, false, true}, {}},                    // CMD_DELNAME
    {{true, true, false, false, false}, {false, true, false}},   // CMD_LISTEN
    {{false, true, false, false, false}, {}},                    // CMD_CALL
    {{false, false, false, false, true}, {true, false, false}},  // CMD_HANGUP
    {{false, false, true, false, false}, {false, false, true}},  // CMD_SEND
    {{}, {}},                                                    // CMD_RECEIVE
}};
}  // namespace

void CConsoleDlg::SetControlState(int selector) {
    auto enable = [this](int id, bool on) {
        if (CWnd *item = GetDlgItem(id)) item->EnableWindow(on);
    };
    if (selector == STATE_IDLE) {
        for (int id : kCommandButtons) enable(id, true);
        enable(IDC_EXECUTE, false);
        enable(IDC_BACK, false);
        return;
    }
    if (selector == STATE_BUSY) {
        for (int id : kInputs) enable(id, false);
        for (int id : kExtras) enable(id, false);
        enable(IDC_EXECUTE, false);
        enable(IDC_BACK, false);
        return;
    }
    if (selector < CMD_RESET || selector > CMD_RECEIVE) return;
    const Enabled &which = kEnabled[std::size_t(selector)];
    for (std::size_t i = 0; i < kInputs.size(); ++i) enable(kInputs[i], which.inputs[i]);
    // Extras are only ever switched on here; the busy state switches them off.
    for (std::size_t i = 0; i < kExtras.size(); ++i)
        if (which.extras[i]) enable(kExtras[i], true);
    for (int id : kCommandButtons) enable(id, false);
    enable(IDC_EXECUTE, true);
    enable(IDC_BACK, true);
    m_pending = selector;
}

void CConsoleDlg::OnReset() {
    SetControlState(CMD_RESET);
}
void CConsoleDlg::OnAddName() {
    SetControlState(CMD_ADDNAME);
}
void CConsoleDlg::OnDeleteName() {
    SetControlState(CMD_DELNAME);
}
void CConsoleDlg::OnListen() {
    SetControlState(CMD_LISTEN);
}
void CConsoleDlg::OnCall() {
    SetControlState(CMD_CALL);
}
void CConsoleDlg::OnHangup() {
    SetControlState(CMD_HANGUP);
}
void CConsoleDlg::OnSend() {
    SetControlState(CMD_SEND);
}
void CConsoleDlg::OnReceive() {
    SetControlState(CMD_RECEIVE);
}

void CConsoleDlg::OnBack() {
    SetControlState(STATE_BUSY);
    SetControlState(STATE_IDLE);
}
