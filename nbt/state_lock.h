// SPDX-License-Identifier: MIT
// The one lock over protocol state. Every handler of the network thread runs
// holding it (their I/O objects are built on StateExecutor), and a caller's
// thread takes it to carry a command itself instead of handing it over and
// sleeping until it comes back. So protocol state still has one owner at a
// time, and ThreadSanitizer sees the hand-over.
//
// The lock is recursive per thread: a handler that runs another one inline,
// or a service that reaches back into the provider, does not deadlock.
#pragma once

#include <asio.hpp>
#include <mutex>
#include <utility>
#include <vector>

namespace nbt {

class StateGuard {
public:
    StateGuard();
    ~StateGuard();
    StateGuard(const StateGuard &) = delete;
    StateGuard &operator=(const StateGuard &) = delete;

    // Whether this thread holds the state lock.
    static bool Held();
    // How many threads are blocked on it now (they go before any thread
    // that comes for it after them).
    static int Blocked();
    // Runs fn(arg) once this thread has let the lock go: a thread woken
    // under the lock would only block on it next.
    static void AfterUnlock(void (*fn)(void *), void *arg);

    // Around fork(): taken (unless this thread holds it) before, let go in
    // both processes after, running nothing deferred.
    static void LockForFork();
    static void UnlockAfterFork(bool child);
};

// An executor that runs each function holding the state lock. Queries,
// requirements and preferences go to the executor it wraps, as a strand's do.
template <typename Inner>
class LockedExecutor {
public:
    explicit LockedExecutor(const Inner &inner) noexcept : inner_(inner) {}

    template <typename Property>
    typename asio::constraint<asio::can_query<const Inner &, Property>::value,
                              typename asio::query_result<const Inner &, Property>::type>::type
    query(const Property &p) const noexcept(asio::is_nothrow_query<const Inner &, Property>::value) {
        return asio::query(inner_, p);
    }

    template <typename Property>
    typename asio::constraint<asio::can_require<const Inner &, Property>::value,
                              LockedExecutor<typename std::decay<
                                  typename asio::require_result<const Inner &, Property>::type>::type>>::type
    require(const Property &p) const {
        return LockedExecutor<
            typename std::decay<typename asio::require_result<const Inner &, Property>::type>::type>(
            asio::require(inner_, p));
    }

    template <typename Property>
    typename asio::constraint<asio::can_prefer<const Inner &, Property>::value,
                              LockedExecutor<typename std::decay<
                                  typename asio::prefer_result<const Inner &, Property>::type>::type>>::type
    prefer(const Property &p) const {
        return LockedExecutor<
            typename std::decay<typename asio::prefer_result<const Inner &, Property>::type>::type>(
            asio::prefer(inner_, p));
    }

    template <typename Function>
    void execute(Function &&f) const {
        asio::execution::execute(inner_, [f = std::forward<Function>(f)]() mutable {
            StateGuard guard;
            std::move(f)();
        });
    }

    friend bool operator==(const LockedExecutor &a, const LockedExecutor &b) noexcept {
        return a.inner_ == b.inner_;
    }
    friend bool operator!=(const LockedExecutor &a, const LockedExecutor &b) noexcept { return !(a == b); }

private:
    Inner inner_;
};

using StateExecutor = LockedExecutor<asio::io_context::executor_type>;

}  // namespace nbt
