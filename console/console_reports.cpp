// SPDX-License-Identifier: MIT
// Session, adapter and remote adapter reports. The report texts are built by
// SessionReport and AdapterReport from the bytes the provider says it
// returned; these handlers ask for the status and show the text.
#include <cstdlib>
#include <span>

#include "adapter_report.h"
#include "console_dlg.h"
#include "hex_to_address.h"
#include "input_dlg.h"
#include "session_report.h"

namespace {

// A number typed into a field, read as atoi does but without its undefined
// behaviour on overflow; byte fields take its low 8 bits.
UCHAR FieldByte(const CString &text) {
    return static_cast<UCHAR>(std::strtol(text, nullptr, 10));
}

// The part of the reply buffer the provider says it filled.
std::span<const UCHAR> Reply(const UCHAR (&buffer)[kStatusReplySize], WORD returned) {
    return std::span<const UCHAR>(buffer, returned < kStatusReplySize ? returned : kStatusReplySize);
}

}  // namespace

void CConsoleDlg::OnOwnSessions() {
    CString lsn;
    GetDlgItemText(IDC_LSN, lsn);
    // Lists the sessions of every local name, whatever the Lsn field holds.
    UCHAR buffer[kStatusReplySize] = {};
    const bool ok = m_block.SessionStatus(FieldByte(lsn), "*", buffer, kStatusReplySize, false);
    const auto report = ok ? SessionReport(Reply(buffer, m_block.ncb_length)) : std::nullopt;
    if (!report) {
        MessageBox("Niet Gelukt", "SessionStatus", MB_ICONINFORMATION);
        return;
    }
    MessageBox(report->c_str(), "SessionStatus", MB_ICONINFORMATION);
}

void CConsoleDlg::OnOwnAdapter() {
    ShowAdapterStatus("*");
}

void CConsoleDlg::ShowAdapterStatus(const char *callname) {
    CString lana;
    GetDlgItemText(IDC_LANA, lana);
    UCHAR buffer[kStatusReplySize] = {};
    const bool ok = m_block.AdapterStatus(FieldByte(lana), callname, buffer, kStatusReplySize, false);
    const auto report = ok ? AdapterReport(Reply(buffer, m_block.ncb_length)) : std::nullopt;
    if (!report) {
        MessageBox("Niet Gelukt", "AdapterStatus", MB_ICONINFORMATION);
        return;
    }
    MessageBox(report->c_str(), "AdapterStatus", MB_ICONINFORMATION);
}

void CConsoleDlg::OnRemAdapter() {
    CInputDlg input;
    input.m_text = m_remoteName;
    if (input.DoModal() != IDOK) return;

    // Remembered even when the query fails, so the next one offers it again.
    m_remoteName = input.m_text;
    if (!IsAddressText(m_remoteName.str())) {
        ShowAdapterStatus(m_remoteName);
        return;
    }
    // Ten zero bytes, then the address: the block copies it unchanged.
    UCHAR callname[NCBNAMSZ] = {};
    HexToAddress(callname + 10, m_remoteName);
    ShowAdapterStatus(reinterpret_cast<const char *>(callname));
}

void CConsoleDlg::HexToAddress(UCHAR *address, const char *text) {
    UCHAR bytes[6];
    ::HexToAddress(bytes, text);
    std::copy(std::begin(bytes), std::end(bytes), address);
}
