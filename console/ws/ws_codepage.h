// SPDX-License-Identifier: MIT
// Field texts are single-byte strings in Windows-1252: one byte is one
// character on screen, and one character typed is one byte on the wire.
#pragma once

#include <wx/string.h>

#include <string>
#include <string_view>

// Every byte becomes one character (the five unassigned bytes map to the C1
// control with the same value, so nothing is lost).
wxString ToToolkit(std::string_view bytes);
// Every character becomes one byte; characters with no byte become '?'.
std::string FromToolkit(const wxString &text);
