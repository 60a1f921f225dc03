// SPDX-License-Identifier: MIT
// The one network thread of the process. Every socket, timer and service
// handler of every Provider runs on it, holding the state lock
// (state_lock.h): handlers go through executor(), never straight to the
// context. Callers' threads carry their own commands under the same lock;
// this thread handles what arrives or falls due while nobody waits on it
// (doc/threads.md).
#pragma once

#include <asio.hpp>
#include <optional>
#include <thread>

#include "process_slot.h"
#include "state_lock.h"

namespace nbt {

class IoThread {
public:
    // The process-wide instance, started on first use and stopped at exit.
    // A child after fork() starts its own on first use (fork_handlers.h).
    static IoThread &Get();
    static ProcessSlot<IoThread> &Slot();

    asio::io_context &context() { return context_; }
    // What sockets, timers and posted work of the provider are built on.
    StateExecutor executor() { return StateExecutor(context_.get_executor()); }
    bool IsCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

    // Runs fn on the network thread, holding the state lock, and waits for
    // it (runs it in place when called from that thread).
    template <typename Fn>
    void RunAndWait(Fn &&fn);

    IoThread(const IoThread &) = delete;
    IoThread &operator=(const IoThread &) = delete;

    ~IoThread();

private:
    IoThread();
    void Run();

    asio::io_context context_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
    std::thread thread_;
};

}  // namespace nbt

#include <future>

template <typename Fn>
void nbt::IoThread::RunAndWait(Fn &&fn) {
    if (IsCurrent()) {
        fn();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    asio::post(executor(), [&] {
        try {
            fn();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    finished.get();
}
