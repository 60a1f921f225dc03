// SPDX-License-Identifier: MIT
#include "progress_bar.h"

#include <unistd.h>

#include <cstdio>

namespace cli {

ProgressBar::ProgressBar() : enabled_(::isatty(STDERR_FILENO) == 1) {}

void ProgressBar::Show(std::uint64_t done, std::uint64_t total, const std::string &note) {
    if (!enabled_ || total == 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && done < total && now - last_ < std::chrono::milliseconds(50)) return;
    last_ = now;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(done * kWidth / total);
    std::fprintf(stderr, "\r[%s%s] %llu/%llu %s\033[K", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, '.').c_str(), static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(total), note.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::Clear() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

}  // namespace cli
