// SPDX-License-Identifier: MIT
#include "fork_handlers.h"

#include <pthread.h>

#include <mutex>

#include "completion.h"
#include "io_thread.h"
#include "provider.h"
#include "service_client.h"
#include "socket_poller.h"
#include "state_lock.h"

namespace nbt {
namespace {

// The locks in the order the provider takes them.
void Prepare() {
    StateGuard::LockForFork();
    Provider::LockAllForFork();
    LockCompletionsForFork();
    ServiceClient::Slot().LockForFork();
    SocketPoller::Slot().LockForFork();
    IoThread::Slot().LockForFork();
}

void InParent() {
    IoThread::Slot().UnlockInParent();
    SocketPoller::Slot().UnlockInParent();
    ServiceClient::Slot().UnlockInParent();
    UnlockCompletionsInParent();
    Provider::UnlockAllInParent();
    StateGuard::UnlockAfterFork(false);
}

void InChild() {
    IoThread::Slot().ForgetInChild();
    SocketPoller::Slot().ForgetInChild();
    // The parent's connection to the service stays the parent's alone.
    if (ServiceClient *client = ServiceClient::Slot().Peek()) client->CloseInChild();
    ServiceClient::Slot().ForgetInChild();
    ForgetCompletionsInChild();
    Provider::ForgetAllInChild();
    StateGuard::UnlockAfterFork(true);
}

}  // namespace

void InstallForkHandlers() {
    static std::once_flag once;
    std::call_once(once, [] { pthread_atfork(Prepare, InParent, InChild); });
}

}  // namespace nbt
