// SPDX-License-Identifier: MIT
// The base of every suite that runs against real peers in a lab of network
// namespaces (tools/netlab): the lab comes up before a suite's first case
// and goes down after its last. Where it cannot be had, every case skips
// with the reason, which KORVEL_REQUIRE_LAB=1 turns into a failure.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "netlab.h"

class LabSuite : public ::testing::Test {
public:
    // The running suite's lab.
    static netlab::Lab &lab() { return *lab_; }

    // nmblookup run in `host` with the lab's client configuration.
    static std::string Nmblookup(int host, const std::string &args);

    static void TearDownTestSuite();

protected:
    // For a suite's SetUpTestSuite. Brings up `hosts` hosts in namespaces
    // named after `tag`; false (every case then skips) where that fails.
    static bool StartLab(const std::string &tag, int hosts);
    // Starts nmbd and smbd in `host` as NetBIOS name `name`, and waits until
    // nmbd answers a broadcast query for it from `asker`; false (every case
    // then skips) where it does not.
    static bool StartSamba(int host, const std::string &name, int asker);
    // Every case of the suite skips with `why`.
    static void SkipAll(const std::string &why);
    // Another lab on its own /24 (net "198.18.162"), for suites that route
    // two LANs together; the caller starts it and owns it.
    static std::unique_ptr<netlab::Lab> NewLab(const std::string &tag, const std::string &net);

    void SetUp() override;

private:
    static inline std::unique_ptr<netlab::Lab> lab_;
    static inline std::string problem_;
};
