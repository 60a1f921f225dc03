// SPDX-License-Identifier: MIT
// What fork() does to the provider. The parent's network thread, sockets,
// epoll sets and nodes stay the parent's: the child shares their
// descriptors, so it must neither use them nor shut them down (an
// EPOLL_CTL_DEL or a shutdown() there would take them from the parent). The
// handlers hold every lock of the provider across fork(), so the child finds
// none held by a thread it does not have; then the child forgets the
// parent's state without destroying it and starts afresh on its next
// command, with no LANA reset.
#pragma once

namespace nbt {

// Registers the handlers once; called when the network thread first starts.
void InstallForkHandlers();

}  // namespace nbt
