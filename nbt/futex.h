// SPDX-License-Identifier: MIT
// The two futex operations the provider's waiters are built on, on one
// 32-bit atomic word private to this process.
#pragma once

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace nbt {

// Sleeps while *word holds `value`, until woken or `timeout` (null: none)
// has passed; may return spuriously.
inline void FutexWait(std::atomic<std::uint32_t> *word, std::uint32_t value,
                      const timespec *timeout = nullptr) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t *>(word), FUTEX_WAIT | FUTEX_PRIVATE_FLAG, value,
            timeout, nullptr, 0);
}

// Wakes up to `count` threads sleeping on word. Uses only its address, so
// the word's owner may already be gone.
inline void FutexWake(std::atomic<std::uint32_t> *word, int count) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t *>(word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, count,
            nullptr, nullptr, 0);
}

}  // namespace nbt
