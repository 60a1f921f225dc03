// SPDX-License-Identifier: MIT
// Plain types and constants of the window-system layer, named as the console
// code has always used them.
#pragma once

#include <cstdint>

class wxIcon;

using UINT = unsigned int;
using LPARAM = std::intptr_t;
using HICON = const wxIcon *;  // owned by the application; never freed by the user
using HCURSOR = HICON;

// Dialog results.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Message box styles; every box of the console is information + OK.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONINFORMATION = 0x00000040;

// Menu items.
constexpr UINT MF_STRING = 0x00000000;
constexpr UINT MF_SEPARATOR = 0x00000800;

// System-menu commands the layer handles itself.
constexpr UINT SC_CLOSE = 0xF060;

// Help command of the application.
constexpr int ID_HELP = 0xE146;

// Check state query of a check box.
constexpr UINT BM_GETCHECK = 0x00F0;
constexpr int BST_UNCHECKED = 0;
constexpr int BST_CHECKED = 1;
