// SPDX-License-Identifier: MIT
// A descriptor passed with one message on the service's socket
// (SCM_RIGHTS): korveld sends a handed session's socket with its
// completion, and the program takes it from the reply.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <cstdint>
#include <span>

namespace nbt {

// sendmsg() of `bytes` and, if fd >= 0, a copy of fd with them; never waits.
ssize_t SendWithDescriptor(int socket, std::span<const std::uint8_t> bytes, int fd);

// The descriptor that came with a received message, if one did; any others
// that came are closed.
int TakeDescriptor(msghdr &header);

}  // namespace nbt
