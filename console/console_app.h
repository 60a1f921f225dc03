// The application object: shows the console modally, then ends.
#pragma once

#include "window_system.h"

class CConsoleApp : public CWinApp {
public:
    CConsoleApp() = default;
    bool InitInstance() override;
};
