#include "io_thread.h"

namespace nbt {

IoThread &IoThread::Get() {
    static IoThread instance;
    return instance;
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
