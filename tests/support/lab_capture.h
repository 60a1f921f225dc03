// SPDX-License-Identifier: MIT
// A capture on the lab's bridge (it sees every host's traffic) for the life
// of the object, and tshark's verdict on what it caught.
#pragma once

#include <string>

#include "netlab.h"

class LabCapture {
public:
    // Captures what the BPF `filter` lets through into `name` in the lab's state.
    LabCapture(const netlab::Lab &lab, const std::string &name, const std::string &filter);
    ~LabCapture() { Stop(); }
    LabCapture(const LabCapture &) = delete;
    LabCapture &operator=(const LabCapture &) = delete;

    // Empty once dumpcap runs; what went wrong otherwise.
    const std::string &problem() const { return problem_; }
    // Gives the last packets a moment, then ends the capture.
    void Stop();

    // tshark's listing of the packets matching the display filter (with
    // `fields`, e.g. " -T fields -e nbss.called_name"), after Stop().
    std::string Tshark(const std::string &filter, const std::string &fields = "");
    // How many packets match, or -1 when tshark refuses the filter (so that
    // no check passes vacuously).
    int Count(const std::string &filter);

private:
    std::string Run(const std::string &filter, const std::string &fields, int *status);

    const netlab::Lab &lab_;
    std::string file_;
    std::string problem_;
    bool stopped_ = false;
};
