// SPDX-License-Identifier: MIT
// Tells korveld when the host's links or IPv4 addresses change: a
// NETLINK_ROUTE socket joined to the link and IPv4 address groups, watched
// on the network thread. Its messages are only a wake-up, never parsed: the
// interfaces are read again whole (getifaddrs) after each burst, which also
// covers messages the kernel dropped for want of room (ENOBUFS). The one
// told may ask to be told again after a while, change or not.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace korveld {

class LinkWatch : public std::enable_shared_from_this<LinkWatch> {
public:
    // changed: returns how long after to call it again whatever happens
    // (0: only on a change).
    using Changed = std::function<std::chrono::milliseconds()>;
    // Network thread. Null, with the reason in *why, where no such socket
    // can be had.
    static std::shared_ptr<LinkWatch> Open(Changed changed, std::string *why);

    // Network thread.
    void Start();
    void Stop();

    LinkWatch(int fd, Changed changed);  // use Open()

private:
    void Wait();
    void Tell();
    // Reads what is there; false once the socket failed for good.
    bool Drain();

    asio::posix::stream_descriptor socket_;
    asio::steady_timer again_;
    Changed changed_;
};

}  // namespace korveld
