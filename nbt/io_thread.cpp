// SPDX-License-Identifier: MIT
#include "io_thread.h"

#include <memory>

#include "fork_handlers.h"

namespace nbt {

ProcessSlot<IoThread> &IoThread::Slot() {
    // Never destroyed itself: what it holds is stopped at exit, below.
    static auto *slot = new ProcessSlot<IoThread>;
    return *slot;
}

IoThread &IoThread::Get() {
    return Slot().Get([] {
        InstallForkHandlers();
        auto *io = new IoThread;
        // Stopped and joined at exit, after any static object made later
        // (the default provider) is gone. In a child after fork() this is
        // the child's own network thread, never the parent's.
        static const struct StopAtExit {
            ~StopAtExit() { delete IoThread::Slot().Peek(); }
        } stop_at_exit;
        return io;
    });
}

IoThread::IoThread() : work_(asio::make_work_guard(context_)), thread_([this] { Run(); }) {}

IoThread::~IoThread() {
    work_.reset();
    context_.stop();
    if (thread_.joinable()) {
        if (IsCurrent())
            thread_.detach();  // exit() from a completion routine
        else
            thread_.join();
    }
}

void IoThread::Run() {
    // A handler that throws must not take the thread (and every pending
    // command with it) down: drop that one handler and keep serving.
    for (;;) {
        try {
            context_.run();
            return;
        } catch (...) {
        }
    }
}

}  // namespace nbt
