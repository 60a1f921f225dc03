// SPDX-License-Identifier: MIT
// How many answers each source address may still get: a token bucket per
// IPv4 address, in a table of fixed size so that a flood from many
// (spoofed) addresses costs no memory. The address left alone longest gives
// its slot to a new one; by then its bucket has usually filled again.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace nbt {

class ReplyBudget {
public:
    using Clock = std::chrono::steady_clock;

    // rate: answers per second once the burst is spent; 0 = no limit.
    ReplyBudget(unsigned rate, unsigned burst);

    // True when an answer to `source` may go out now, which spends it.
    bool Take(std::uint32_t source, Clock::time_point now = Clock::now());

    // Sources tracked at once: more than a segment has hosts that ask us.
    static constexpr std::size_t kSources = 256;

private:
    struct Bucket {
        std::uint32_t source = 0;
        double tokens = 0;
        Clock::time_point last{};
        bool used = false;
    };
    Bucket &BucketOf(std::uint32_t source, Clock::time_point now);

    double rate_;
    double burst_;
    std::array<Bucket, kSources> buckets_{};
};

}  // namespace nbt
