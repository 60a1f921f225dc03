// SPDX-License-Identifier: MIT
#include "lab_suite.h"

#include <chrono>
#include <thread>

#include "lab_guard.h"

std::string LabSuite::Nmblookup(int host, const std::string &args) {
    return lab_->Exec(host, "nmblookup -s " + lab_->ClientConf() + " " + args);
}

bool LabSuite::StartLab(const std::string &tag, int hosts) {
    problem_.clear();
    lab_ = std::make_unique<netlab::Lab>(KORVEL_NETLAB, tag);
    return lab_->Start(hosts, &problem_);
}

bool LabSuite::StartSamba(int host, const std::string &name, int asker) {
    if (!lab_->StartSamba(host, name, &problem_)) return false;
    // Registered is not yet answering: ask the way a client would.
    const std::string answer = netlab::Lab::Address(host) + " " + name + "<20>";
    for (int i = 0; i < 40; ++i) {
        if (netlab::Contains(Nmblookup(asker, "-B " + netlab::Lab::Broadcast() + " '" + name + "#20'"),
                             answer))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    problem_ = "nmbd never answered for " + name;
    return false;
}

std::unique_ptr<netlab::Lab> LabSuite::NewLab(const std::string &tag, const std::string &net) {
    return std::make_unique<netlab::Lab>(KORVEL_NETLAB, tag, net);
}

void LabSuite::SkipAll(const std::string &why) {
    problem_ = why;
}

void LabSuite::TearDownTestSuite() {
    lab_.reset();
    problem_.clear();
}

void LabSuite::SetUp() {
    if (!problem_.empty()) KORVEL_SKIP_WITHOUT_LAB(problem_);
}
