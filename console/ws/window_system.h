// SPDX-License-Identifier: MIT
// The window-system layer the console is written against: a thin set of
// framework names on top of wxWidgets. Only what the console uses.
#pragma once

#include "ws_app.h"
#include "ws_codepage.h"
#include "ws_dialog.h"
#include "ws_file.h"
#include "ws_paint.h"
#include "ws_resources.h"
#include "ws_string.h"
#include "ws_types.h"
#include "ws_wnd.h"
