// SPDX-License-Identifier: MIT
// The LANA report: which adapter numbers are valid on this machine.
#include "console_dlg.h"

void CConsoleDlg::OnLanaNumbers() {
    LANA_ENUM lanas{};
    const UCHAR code = m_block.EnumLanas(&lanas, sizeof lanas);
    if (code != NRC_GOODRET) {
        MessageBox("Niet Gelukt", "LanaEnum", MB_OK | MB_ICONINFORMATION);
        return;
    }
    CString report;
    report.Format("Geldige entries: %d\n", lanas.length);
    for (int i = 0; i < lanas.length; ++i) report.AppendFormat("LANnr: %3d\n", lanas.lana[i]);
    MessageBox(report, "LanaEnum", MB_OK | MB_ICONINFORMATION);
}
