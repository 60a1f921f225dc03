// SPDX-License-Identifier: MIT
#include "session_numbers.h"

namespace nbt {

std::optional<UCHAR> SessionNumbers::Allocate() {
    if (count_ >= limit_ || count_ >= 254) return std::nullopt;
    UCHAR candidate = last_;
    for (int tries = 0; tries < 254; ++tries) {
        candidate = static_cast<UCHAR>(candidate >= 254 ? 1 : candidate + 1);
        if (!used_.test(candidate)) {
            used_.set(candidate);
            ++count_;
            last_ = candidate;
            return candidate;
        }
    }
    return std::nullopt;
}

bool SessionNumbers::Take(UCHAR lsn) {
    if (lsn == 0 || lsn == 255 || used_.test(lsn)) return false;
    used_.set(lsn);
    ++count_;
    return true;
}

void SessionNumbers::Release(UCHAR lsn) {
    if (lsn == 0 || lsn == 255 || !used_.test(lsn)) return;
    used_.reset(lsn);
    --count_;
}

}  // namespace nbt
