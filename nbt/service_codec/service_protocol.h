// SPDX-License-Identifier: MIT
// What a program and korveld say to each other over the service's local
// socket (SOCK_SEQPACKET: one message per request or reply, so no framing).
// Numbers are big-endian, as on the wire. Every message starts with its
// type byte; the layouts are in service_request.h and service_reply.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "nb30.h"

namespace nbt::service {

enum class RequestType : std::uint8_t {
    kSubmit = 1,       // an NCB for the service to carry
    kLanas = 2,        // the LANAs the service serves
    kNameOwners = 3,   // who holds each name of a LANA
    kResolveName = 4,  // a name's address, the way the service resolves names
    kNameCache = 5,    // names resolved on a LANA, and the cache they leave
    kSessionOver = 6,  // a session handed to the program has ended there
};

enum class ReplyType : std::uint8_t {
    kAccepted = 1,   // an asynchronous submit is under way
    kRefused = 2,    // an asynchronous submit was refused at once
    kCompleted = 3,  // a submit has finished
    kLanaList = 4,
    kOwnerList = 5,
    kResolved = 6,
    kNameCacheView = 7,
    // A CALL or LISTEN has finished and its connected socket comes with it
    // (SCM_RIGHTS): from now on the program carries the session itself.
    kSessionHanded = 8,
    // A name of the program's is in conflict on a LANA: the sessions the
    // program carries under it end as the service's own do.
    kNameConflict = 9,
};

// The most addresses a resolved reply carries (a multihomed host's).
inline constexpr std::size_t kMaxResolvedAddresses = 8;
// The longest korveld takes to answer a name lookup, whatever its settings:
// a program waiting on it waits no longer than this.
inline constexpr int kLongestResolveMs = 3000;

// Flags of a submit.
inline constexpr std::uint8_t kWantsAnswer = 0x01;  // say at once whether it is accepted
inline constexpr std::uint8_t kNoBuffer = 0x02;     // ncb_buffer was null
inline constexpr std::uint8_t kNoChained = 0x04;    // a chain send's second buffer was null
inline constexpr std::uint8_t kKnownFlags = kWantsAnswer | kNoBuffer | kNoChained;

// The largest message either side sends: a chain send of two full buffers.
inline constexpr std::size_t kMaxMessage = 64 + 2 * (2 + 0xFFFF);

// Commands whose buffer the program sends along, and those whose buffer the
// service sends back once they finish.
constexpr bool SendsData(UCHAR command) {
    switch (command & static_cast<UCHAR>(~ASYNCH)) {
        case NCBSEND:
        case NCBSENDNA:
        case NCBCHAINSEND:
        case NCBCHAINSENDNA:
        case NCBDGSEND:
        case NCBDGSENDBC:
            return true;
        default:
            return false;
    }
}

constexpr bool IsChainSend(UCHAR command) {
    const UCHAR code = command & static_cast<UCHAR>(~ASYNCH);
    return code == NCBCHAINSEND || code == NCBCHAINSENDNA;
}

constexpr bool ReturnsData(UCHAR command) {
    switch (command & static_cast<UCHAR>(~ASYNCH)) {
        case NCBRECV:
        case NCBRECVANY:
        case NCBDGRECV:
        case NCBDGRECVBC:
        case NCBASTAT:
        case NCBSSTAT:
            return true;
        default:
            return false;
    }
}

// A chain send's second length, from ncb_callname bytes 0-1 as the block
// holds it (host order, as the platform lays it out).
inline WORD ChainedLength(const UCHAR (&callname)[NCBNAMSZ]) {
    WORD length;
    std::memcpy(&length, callname, sizeof length);
    return length;
}

}  // namespace nbt::service
