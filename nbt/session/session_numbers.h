// SPDX-License-Identifier: MIT
// Local session numbers: 1..254, handed out round-robin (the next number
// after the last one given, skipping those in use) so that a stale number
// does not quietly name a new session. The reset's session limit caps how
// many are in use at once; pending listens and calls hold one too.
#pragma once

#include <bitset>
#include <cstddef>
#include <optional>

#include "nb30.h"

namespace nbt {

class SessionNumbers {
public:
    explicit SessionNumbers(std::size_t limit) : limit_(limit) {}

    // Null when the limit is reached.
    std::optional<UCHAR> Allocate();
    void Release(UCHAR lsn);
    // Takes a number another table handed out (a session korveld hands
    // over); false when it is in use here or not a session number.
    bool Take(UCHAR lsn);
    bool InUse(UCHAR lsn) const { return used_.test(lsn); }
    std::size_t count() const { return count_; }

private:
    std::bitset<256> used_;
    std::size_t limit_;
    std::size_t count_ = 0;
    UCHAR last_ = 0;
};

}  // namespace nbt
