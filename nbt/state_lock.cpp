#include "state_lock.h"

namespace nbt {
namespace {

std::mutex &StateMutex() {
    // Never destroyed: handlers may still run while statics are torn down.
    static auto *mutex = new std::mutex;
    return *mutex;
}

thread_local int held_depth = 0;

}  // namespace

StateGuard::StateGuard() {
    if (held_depth++ == 0) StateMutex().lock();
}

StateGuard::~StateGuard() {
    if (--held_depth == 0) StateMutex().unlock();
}

bool StateGuard::Held() {
    return held_depth > 0;
}

}  // namespace nbt
