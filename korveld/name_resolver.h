// SPDX-License-Identifier: MIT
// Names resolved for programs that are not NCB clients (the hosts lookups
// of every program, through the NSS module): on each of the service's LANAs
// at once, by the node of that LANA, so each adapter's node type, name
// servers, cache and scope apply. A LANA nobody has reset is reset for the
// resolver itself, as a client of its own.
//
// An answer comes within the broadcast query time (retries x timeout, at
// most kLongestResolveMs): the first unique name any LANA finds, else a
// group, else nothing. A lookup still under way then goes on and leaves its
// answer in the node's cache for the next caller.
//
// Network thread only.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "provider.h"
#include "service_reply.h"

namespace korveld {

class NameResolver : public std::enable_shared_from_this<NameResolver> {
public:
    using Done = std::function<void(nbt::service::Resolution)>;

    NameResolver(nbt::Provider &provider, nbt::ClientId client);

    // done runs once, never inside this call; its Resolution's id is 0.
    void Resolve(const std::array<UCHAR, NCBNAMSZ> &name, Done done);
    // The resolver's client lets go of the LANAs it reset.
    void Stop();

    std::chrono::milliseconds AnswerTime() const;

private:
    struct Pending;
    struct Opening;
    void LookUpOn(UCHAR lana, const std::shared_ptr<Pending> &pending);
    void Opened(UCHAR lana);

    nbt::Provider &provider_;
    const nbt::ClientId client_;
    // LANAs being reset for the resolver, and the lookups waiting on each.
    std::map<UCHAR, std::vector<std::shared_ptr<Pending>>> opening_;
};

}  // namespace korveld
