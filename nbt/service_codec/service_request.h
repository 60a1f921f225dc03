// SPDX-License-Identifier: MIT
// A program's requests to korveld, and their decoder, which trusts nothing
// it is given: every length is checked against what the message holds and
// against the block it describes, and a message with a byte too many or too
// few is refused whole.
//
//   submit      type id:u64 flags:u8 command lsn num lana length:u16 rto sto
//               callname[16] name[16] cancel_target:u64 cancel_command
//               data_length:u16 data chained_length:u16 chained
//   lanas       type
//   name owners type lana
//   resolve     type id:u64 name[16]
//   name cache  type id:u64 lana wait_ms:u32 count:u8 name[16] x count
//   session over type lana lsn sent:u32 received:u32 send_failures:u16
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "nb30.h"
#include "service_protocol.h"

namespace nbt::service {

// An NCB's input fields. data is the buffer of a command that sends one
// (ncb_length bytes), chained a chain send's second buffer; both empty for
// the other commands. cancel_target: for NCBCANCEL, the id of the program's
// own block it names (0: none the service carries), and cancel_command that
// block's command, which says what a cancel of a block not pending answers.
struct SubmitRequest {
    std::uint64_t id = 0;
    std::uint8_t flags = 0;
    UCHAR command = 0;
    UCHAR lsn = 0;
    UCHAR num = 0;
    UCHAR lana = 0;
    WORD length = 0;
    UCHAR rto = 0;
    UCHAR sto = 0;
    std::array<UCHAR, NCBNAMSZ> callname{};
    std::array<UCHAR, NCBNAMSZ> name{};
    std::uint64_t cancel_target = 0;
    UCHAR cancel_command = 0;
    std::span<const std::uint8_t> data;
    std::span<const std::uint8_t> chained;
};

// A name to resolve as the service resolves names for its calls (its node
// types, name servers, cache and scope), on each of its LANAs.
struct ResolveRequest {
    std::uint64_t id = 0;
    std::array<UCHAR, NCBNAMSZ> name{};
};

// Names to resolve on one LANA as korvel-nb names does in-process, waiting
// at most wait_ms for them, then that LANA's cache (NameCacheReport).
struct NameCacheRequest {
    std::uint64_t id = 0;
    UCHAR lana = 0;
    std::uint32_t wait_ms = 0;
    std::vector<std::array<UCHAR, NCBNAMSZ>> names;  // at most kMaxCacheRequestNames
};
inline constexpr std::size_t kMaxCacheRequestNames = 0xFF;
// A session the service handed over has ended in the program (lsn 0: none
// did; only the counts), with the session messages the program carried
// since it last said, for the adapter's counters.
struct SessionOver {
    UCHAR lana = 0;
    UCHAR lsn = 0;
    std::uint32_t sent = 0;
    std::uint32_t received = 0;
    std::uint16_t send_failures = 0;
};

struct Request {
    RequestType type = RequestType::kSubmit;
    SubmitRequest submit;  // kSubmit; its spans point into the decoded message
    UCHAR lana = 0;        // kNameOwners
    ResolveRequest resolve;
    NameCacheRequest name_cache;
    SessionOver over;
};

void EncodeSubmit(const SubmitRequest &submit, std::vector<std::uint8_t> &out);
void EncodeLanasRequest(std::vector<std::uint8_t> &out);
void EncodeNameOwnersRequest(UCHAR lana, std::vector<std::uint8_t> &out);
void EncodeResolveRequest(const ResolveRequest &resolve, std::vector<std::uint8_t> &out);
// At most kMaxCacheRequestNames of the names go.
void EncodeNameCacheRequest(const NameCacheRequest &request, std::vector<std::uint8_t> &out);
void EncodeSessionOver(const SessionOver &over, std::vector<std::uint8_t> &out);

// nullopt for anything but exactly one well-formed request.
std::optional<Request> DecodeRequest(std::span<const std::uint8_t> message);

}  // namespace nbt::service
