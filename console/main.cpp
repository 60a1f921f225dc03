// The process: one application object that shows the console.
#include <wx/app.h>

#include "console_app.h"

wxIMPLEMENT_APP(CConsoleApp);
