// SPDX-License-Identifier: MIT
#include "send_guard.h"

#include <cstring>

bool SendLengthFits(CDialog &dlg, const char *data) {
    const std::size_t length = std::strlen(data);
    if (length <= kMaxSendLength) return true;
    CString text;
    text.Format("Het bericht is te lang: %zu bytes, ten hoogste %lu bytes.", length, kMaxSendLength);
    dlg.MessageBox(text, "Send", MB_OK | MB_ICONINFORMATION);
    return false;
}
