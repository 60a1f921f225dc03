// SPDX-License-Identifier: MIT
#include "reply_budget.h"

#include <algorithm>

namespace nbt {

ReplyBudget::ReplyBudget(unsigned rate, unsigned burst) : rate_(rate), burst_(std::max(burst, 1u)) {}

ReplyBudget::Bucket &ReplyBudget::BucketOf(std::uint32_t source, Clock::time_point now) {
    Bucket *oldest = &buckets_[0];
    for (auto &bucket : buckets_) {
        if (bucket.used && bucket.source == source) return bucket;
        if (!bucket.used || (oldest->used && bucket.last < oldest->last)) oldest = &bucket;
    }
    *oldest = Bucket{source, burst_, now, true};
    return *oldest;
}

bool ReplyBudget::Take(std::uint32_t source, Clock::time_point now) {
    if (rate_ == 0) return true;
    Bucket &bucket = BucketOf(source, now);
    const std::chrono::duration<double> idle = now - bucket.last;
    bucket.tokens = std::min(burst_, bucket.tokens + std::max(idle.count(), 0.0) * rate_);
    bucket.last = now;
    if (bucket.tokens < 1) return false;
    bucket.tokens -= 1;
    return true;
}

}  // namespace nbt
