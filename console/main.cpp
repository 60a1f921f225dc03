// SPDX-License-Identifier: MIT
// The process: --help and --version are answered before the window system
// starts; otherwise one application object shows the console.
#include <wx/app.h>

#include <iostream>

#include "command_line.h"
#include "console_app.h"

wxIMPLEMENT_APP_NO_MAIN(CConsoleApp);

int main(int argc, char **argv) {
    if (const auto status = command_line::Answer(argc, argv, std::cout)) return *status;
    wxDISABLE_DEBUG_SUPPORT();
    return wxEntry(argc, argv);
}
