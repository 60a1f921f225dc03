// The application's string resources.
#pragma once

#include "ws_types.h"

// The text of a string resource, or nullptr if there is none with this id.
const char *FindStringResource(UINT id);
