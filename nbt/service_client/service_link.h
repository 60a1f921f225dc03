// SPDX-License-Identifier: MIT
// The program's connection to korveld: a SOCK_SEQPACKET socket any thread
// sends requests on (one send() per message, which the kernel never
// interleaves), and whose replies are read by whoever waits for them: the
// network thread through the socket poller, or a synchronous caller itself
// (CallerWork), so that its reply wakes it alone and not the network thread
// first. While a caller reads it, the network thread does not watch it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "completion.h"
#include "service_client.h"
#include "service_protocol.h"
#include "socket_poller.h"

namespace nbt {

struct ServiceClient::Link final : PolledSocket, CallerWork, std::enable_shared_from_this<Link> {
    Link(ServiceClient &owner, int descriptor)
        : client(owner), fd(descriptor), buffer(service::kMaxMessage) {}
    // Closed only once no thread can send on it any more.
    ~Link();

    // State lock held: in the socket poller, disarmed. False if it cannot be.
    bool Register();
    // State lock held: has the network thread watch the socket unless a
    // caller reads it or it is lost. later: leaves the arming to Recheck().
    void Watch(bool later = false);
    // State lock held: out of the socket poller for good.
    void Unregister();

    void OnReady(std::uint32_t events) override;
    void Recheck() override;
    short Step(short events, bool at_once) override;
    void Leave(short events) override;

    ServiceClient &client;
    const int fd;
    // State lock held from here on.
    // Set once the connection is given up. Its descriptor stays open (shut
    // down) while any thread may still send on it, so the number is never
    // reused under a sender.
    bool lost = false;
    int readers = 0;  // synchronous callers reading it themselves
    std::uint64_t key = 0;
    bool watched = false;
    std::vector<std::uint8_t> buffer;  // one reply at a time
};

// A connected socket, or -1 with the reason in *why.
int ConnectToService(const std::string &path, std::string *why);
// The whole message, waiting for room while the service is there and takes
// some within `patience`: a service that has stopped reading must not hold
// up the sender (possibly holding the state lock) for ever.
constexpr std::chrono::milliseconds kServicePatience{10000};
bool SendMessage(int fd, const std::vector<std::uint8_t> &message,
                 std::chrono::milliseconds patience = kServicePatience);

}  // namespace nbt
