// SPDX-License-Identifier: MIT
// Identifiers of the console's resources: dialog templates, the icon, the
// About string and every control. The values are fixed: the templates in
// res/ name the controls, and InitWindowSystem() registers each name with its
// value before any template loads, so the event tables see these numbers.
#pragma once

// Dialog templates, icon and string.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDD_CONSOLE = 102;
constexpr int IDR_MAINFRAME = 128;
constexpr int IDD_INPUT = 129;

// System-menu command of the About entry.
constexpr unsigned IDM_ABOUTBOX = 0x0010;

// Console controls. The receive button really is 3.
constexpr int IDC_RECEIVE = 3;
constexpr int IDC_RESET = 1000;
constexpr int IDC_LISTEN = 1001;
constexpr int IDC_CALL = 1002;
constexpr int IDC_HANGUP = 1003;
constexpr int IDC_ADDNAME = 1004;
constexpr int IDC_DELNAME = 1005;
constexpr int IDC_EXECUTE = 1006;
constexpr int IDC_OWNNAME = 1007;
constexpr int IDC_CONTACT = 1008;
constexpr int IDC_SEND = 1009;
constexpr int IDC_MESSAGE = 1010;
constexpr int IDC_RESULT = 1011;
constexpr int IDC_LANA = 1012;
constexpr int IDC_STATUS = 1013;
constexpr int IDC_NUM = 1014;
constexpr int IDC_OWNSESSIONS = 1015;
constexpr int IDC_LSN = 1016;
constexpr int IDC_OWNADAPTER = 1017;
constexpr int IDC_RXDATLISTEN = 1018;
constexpr int IDC_LANANUMBERS = 1019;
constexpr int IDC_FILEMSG = 1020;
constexpr int IDC_REMADAPTER = 1021;
constexpr int IDC_BACK = 1022;

// The input dialog's edit; its own template, so sharing 1019 is fine.
constexpr int IDC_INPUT = 1019;
