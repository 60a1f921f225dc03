// SPDX-License-Identifier: MIT
// Tells korveld when the host's links or IPv4 addresses change: a
// NETLINK_ROUTE socket joined to the link and IPv4 address groups, watched
// on the network thread. Its messages are only a wake-up, never parsed: the
// interfaces are read again whole (getifaddrs) after each burst, which also
// covers messages the kernel dropped for want of room (ENOBUFS).
#pragma once

#include <asio.hpp>
#include <functional>
#include <memory>
#include <string>

namespace korveld {

class LinkWatch : public std::enable_shared_from_this<LinkWatch> {
public:
    // Network thread. Null, with the reason in *why, where no such socket
    // can be had.
    static std::shared_ptr<LinkWatch> Open(std::function<void()> changed, std::string *why);

    // Network thread.
    void Start();
    void Stop();

    LinkWatch(int fd, std::function<void()> changed);  // use Open()

private:
    void Wait();
    // Reads what is there; false once the socket failed for good.
    bool Drain();

    asio::posix::stream_descriptor socket_;
    std::function<void()> changed_;
};

}  // namespace korveld
