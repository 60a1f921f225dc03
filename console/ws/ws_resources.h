// SPDX-License-Identifier: MIT
// What the application hands the layer at start-up (InitWindowSystem): its
// compiled-in templates, the fixed ids of the control names they use, the
// object names of its dialogs and icons, and its string table. The layer
// looks names and strings up here and knows nothing else of the application.
#pragma once

#include <span>

#include "ws_types.h"

struct ResourceName {
    const char *name;
    int id;
};

struct StringResource {
    int id;
    const char *text;
};

struct AppResources {
    void (*loadTemplates)() = nullptr;       // puts the templates and images in the XRC store
    std::span<const ResourceName> controls;  // every control name a template uses, with its value
    std::span<const ResourceName> objects;   // dialog templates and icons, by id
    std::span<const StringResource> strings;
};

// Keeps the application's resources for the lookups below (InitWindowSystem
// does this); they must live as long as the process.
void RegisterResources(const AppResources &resources);

// Every control name used in a template, with its value.
std::span<const ResourceName> ControlNames();
// The XRC object name of a dialog template or icon; nullptr if unknown.
const char *ResourceNameOf(UINT id);
// The text of a string resource, or nullptr if there is none with this id.
const char *FindStringResource(UINT id);
