// SPDX-License-Identifier: MIT
#include "lab_capture.h"

#include <chrono>
#include <sstream>
#include <thread>

LabCapture::LabCapture(const netlab::Lab &lab, const std::string &name, const std::string &filter)
    : lab_(lab), file_(lab.state() + "/" + name) {
    int status = 0;
    const std::string out = lab_.Run("capture-start " + file_ + " " + netlab::Quote(filter), &status);
    if (status != 0) problem_ = "capture would not start: " + out;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // before dumpcap sees packets
}

void LabCapture::Stop() {
    if (stopped_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    lab_.Run("capture-stop");
    stopped_ = true;
}

std::string LabCapture::Run(const std::string &filter, const std::string &fields, int *status) {
    Stop();
    const std::string out =
        netlab::Shell("tshark -n -r " + file_ + " -Y " + netlab::Quote(filter) + fields, status);
    // tshark's warning about running as root is not a packet.
    std::istringstream lines(out);
    std::string line, packets;
    while (std::getline(lines, line))
        if (!netlab::Contains(line, "Running as user")) packets += line + "\n";
    return packets;
}

std::string LabCapture::Tshark(const std::string &filter, const std::string &fields) {
    return Run(filter, fields, nullptr);
}

int LabCapture::Count(const std::string &filter) {
    int status = 0;
    std::istringstream lines(Run(filter, "", &status));
    if (status != 0) return -1;
    int count = 0;
    std::string line;
    while (std::getline(lines, line)) count += !line.empty();
    return count;
}
