#include "string_table.h"

#include "resource.h"

const char *FindStringResource(UINT id) {
    switch (id) {
        case IDS_ABOUTBOX:
            return "&About Korvel...";
        default:
            return nullptr;
    }
}
