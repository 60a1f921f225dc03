// SPDX-License-Identifier: MIT
// The console's resources as the window-system layer takes them at start-up:
// the templates and images compiled in from res/, the fixed value of every
// name they use (resource.h) and the string table.
#pragma once

#include "window_system.h"

const AppResources &ConsoleResources();

// The window system set up for the console's dialogs: what a program that
// shows them calls before the first one.
inline bool InitWindowSystem() {
    return InitWindowSystem(ConsoleResources());
}
