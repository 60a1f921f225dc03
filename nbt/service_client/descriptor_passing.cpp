// SPDX-License-Identifier: MIT
#include "descriptor_passing.h"

#include <unistd.h>

#include <cstring>

namespace nbt {

ssize_t SendWithDescriptor(int socket, std::span<const std::uint8_t> bytes, int fd) {
    iovec chunk{const_cast<std::uint8_t *>(bytes.data()), bytes.size()};
    msghdr header{};
    header.msg_iov = &chunk;
    header.msg_iovlen = 1;
    alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr *part = CMSG_FIRSTHDR(&header);
        part->cmsg_level = SOL_SOCKET;
        part->cmsg_type = SCM_RIGHTS;
        part->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(part), &fd, sizeof fd);
    }
    return ::sendmsg(socket, &header, MSG_DONTWAIT | MSG_NOSIGNAL);
}

int TakeDescriptor(msghdr &header) {
    int fd = -1;
    for (cmsghdr *part = CMSG_FIRSTHDR(&header); part; part = CMSG_NXTHDR(&header, part)) {
        if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t count = (part->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int passed;
            std::memcpy(&passed, CMSG_DATA(part) + i * sizeof(int), sizeof passed);
            if (fd < 0)
                fd = passed;
            else
                ::close(passed);
        }
    }
    return fd;
}

}  // namespace nbt
