// SPDX-License-Identifier: MIT
#include "console_resources.h"

#include <array>

#include "compiled_resources.h"
#include "resource.h"

#define KORVEL_NAMED(id) \
    ResourceName {       \
#id, id          \
    }

namespace {
constexpr std::array kControls = {
    KORVEL_NAMED(IDC_RECEIVE),    KORVEL_NAMED(IDC_RESET),       KORVEL_NAMED(IDC_LISTEN),
    KORVEL_NAMED(IDC_CALL),       KORVEL_NAMED(IDC_HANGUP),      KORVEL_NAMED(IDC_ADDNAME),
    KORVEL_NAMED(IDC_DELNAME),    KORVEL_NAMED(IDC_EXECUTE),     KORVEL_NAMED(IDC_OWNNAME),
    KORVEL_NAMED(IDC_CONTACT),    KORVEL_NAMED(IDC_SEND),        KORVEL_NAMED(IDC_MESSAGE),
    KORVEL_NAMED(IDC_RESULT),     KORVEL_NAMED(IDC_LANA),        KORVEL_NAMED(IDC_STATUS),
    KORVEL_NAMED(IDC_NUM),        KORVEL_NAMED(IDC_OWNSESSIONS), KORVEL_NAMED(IDC_LSN),
    KORVEL_NAMED(IDC_OWNADAPTER), KORVEL_NAMED(IDC_RXDATLISTEN), KORVEL_NAMED(IDC_LANANUMBERS),
    KORVEL_NAMED(IDC_FILEMSG),    KORVEL_NAMED(IDC_REMADAPTER),  KORVEL_NAMED(IDC_BACK),
    KORVEL_NAMED(IDC_INPUT),
};

constexpr std::array kObjects = {
    KORVEL_NAMED(IDD_ABOUTBOX),
    KORVEL_NAMED(IDD_CONSOLE),
    KORVEL_NAMED(IDR_MAINFRAME),
    KORVEL_NAMED(IDD_INPUT),
};

constexpr std::array kStrings = {
    StringResource{IDS_ABOUTBOX, "&About Korvel..."},
};

constexpr AppResources kResources{KorvelLoadResources, kControls, kObjects, kStrings};
}  // namespace

const AppResources &ConsoleResources() {
    return kResources;
}
