// SPDX-License-Identifier: MIT
// A set of LANA numbers that every Netbios() call reads without a lock.
// Writers are serialised by their owner; each word is replaced whole, so a
// number in both the old and the new set is never seen missing.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "nb30.h"

namespace nbt {

class LanaBits {
public:
    using Words = std::array<std::uint64_t, 4>;

    bool test(UCHAR lana) const {
        return (words_[lana / 64].load(std::memory_order_acquire) >> (lana % 64)) & 1;
    }
    void set(UCHAR lana) { words_[lana / 64].fetch_or(Bit(lana), std::memory_order_acq_rel); }
    void reset(UCHAR lana) { words_[lana / 64].fetch_and(~Bit(lana), std::memory_order_acq_rel); }
    void assign(const Words &words) {
        for (std::size_t i = 0; i < words.size(); ++i) words_[i].store(words[i], std::memory_order_release);
    }
    static void Add(Words &words, UCHAR lana) { words[lana / 64] |= Bit(lana); }

private:
    static std::uint64_t Bit(UCHAR lana) { return std::uint64_t{1} << (lana % 64); }
    std::array<std::atomic<std::uint64_t>, 4> words_{};
};

}  // namespace nbt
