// SPDX-License-Identifier: MIT
#include "ws_resources.h"

namespace {
// Nothing until the application registers: every lookup finds nothing.
const AppResources kNone{};
const AppResources *registered = &kNone;
}  // namespace

void RegisterResources(const AppResources &resources) {
    registered = &resources;
}

std::span<const ResourceName> ControlNames() {
    return registered->controls;
}

const char *ResourceNameOf(UINT id) {
    for (const ResourceName &entry : registered->objects)
        if (UINT(entry.id) == id) return entry.name;
    return nullptr;
}

const char *FindStringResource(UINT id) {
    for (const StringResource &entry : registered->strings)
        if (UINT(entry.id) == id) return entry.text;
    return nullptr;
}
