// SPDX-License-Identifier: MIT
// Tests that need root or network namespaces skip where those cannot be had,
// with the reason. CI sets KORVEL_REQUIRE_LAB=1 so that such a skip fails.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

inline bool LabRequired() {
    const char *value = std::getenv("KORVEL_REQUIRE_LAB");
    return value && std::string(value) == "1";
}

#define KORVEL_SKIP_WITHOUT_LAB(reason)                                            \
    do {                                                                           \
        if (LabRequired()) FAIL() << "lab required but unavailable: " << (reason); \
        GTEST_SKIP() << (reason);                                                  \
    } while (0)
