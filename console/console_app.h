// SPDX-License-Identifier: MIT
// The application object: shows the console modally, then ends.
#pragma once

#include "console_resources.h"

class CConsoleApp : public CWinApp {
public:
    CConsoleApp() : CWinApp(ConsoleResources()) {}
    bool InitInstance() override;
};
