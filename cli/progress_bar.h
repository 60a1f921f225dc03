// SPDX-License-Identifier: MIT
// A one-line progress bar on standard error, drawn only on a terminal and
// at most 20 times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace cli {

class ProgressBar {
public:
    ProgressBar();
    ~ProgressBar() { Clear(); }
    // done of total, and a note after the bar ("3 answered").
    void Show(std::uint64_t done, std::uint64_t total, const std::string &note);
    void Clear();

private:
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace cli
