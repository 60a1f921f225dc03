// SPDX-License-Identifier: MIT
// A send must fit the control block's 16-bit length field: a longer one
// would go out cut short and still be reported as done.
#pragma once

#include "ws_dialog.h"

constexpr unsigned long kMaxSendLength = 0xFFFF;

// True when data (up to its NUL) fits; otherwise tells the operator in a
// message box on dlg and answers false, and nothing must be sent.
bool SendLengthFits(CDialog &dlg, const char *data);
