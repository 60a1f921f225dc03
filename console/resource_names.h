// Names of the resources in the XRC templates, with their fixed values.
#pragma once

#include <span>

#include "ws_types.h"

struct ResourceName {
    const char *name;
    int id;
};

// Every control name used in a template, with its value.
std::span<const ResourceName> ControlNames();
// The XRC object name of a dialog template or icon; nullptr if unknown.
const char *ResourceNameOf(UINT id);
