// Session, adapter and remote adapter reports.
#include "console_dlg.h"

void CConsoleDlg::OnOwnSessions() {}

void CConsoleDlg::OnOwnAdapter() {}

void CConsoleDlg::ShowAdapterStatus(const char *) {}

void CConsoleDlg::OnRemAdapter() {}

void CConsoleDlg::HexToAddress(UCHAR *, const char *) {}
