// SPDX-License-Identifier: MIT
// korveld's replies to a program, and their decoder (as strict as the
// request's: counts and lengths are checked against what is there).
//
//   accepted   type id:u64
//   refused    type id:u64 rc
//   completed  type id:u64 rc lsn num length:u16 callname[16] name[16]
//              data_length:u16 data
//   handed     type id:u64 rc lsn num length:u16 callname[16] name[16]
//              name_number unread_length:u32 unread (at most kMaxUnread; the socket
//              comes with it as SCM_RIGHTS)
//   lana list  type count, then each: number name_length name[<=16]
//              address:u32 broadcast:u32 mac[6] ports:u16 x3 (name, datagram, session)
//   owner list type count:u16, then each: name[16] pid:u32 uid:u32
//              program_length program[<=16]
//   resolved   type id:u64 flags count, then count x address:u32
//              (flags: kFound, kGroup; count at most kMaxResolvedAddresses)
//   name cache view  type id:u64 flags node_type asked:u8 x entry, cached:u16 x entry;
//              each entry: name[16] flags address:u32 left_ms:u32
//              (flags kViewReset; an entry's kCachedFound, kCachedGroup,
//              kCachedFromServer; node_type one of "BPMH")
//   name conflict  type lana name[16]
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "nb30.h"
#include "service_protocol.h"

namespace nbt::service {

// A finished block's output fields, and its buffer's bytes for the commands
// that return some (ReturnsData).
struct Completion {
    std::uint64_t id = 0;
    UCHAR rc = NRC_GOODRET;
    UCHAR lsn = 0;
    UCHAR num = 0;
    WORD length = 0;
    std::array<UCHAR, NCBNAMSZ> callname{};
    std::array<UCHAR, NCBNAMSZ> name{};
    std::span<const std::uint8_t> data;
    // A handed session's bytes the service read past the session response
    // and never delivered, as they came on the stream.
    std::span<const std::uint8_t> unread;
    UCHAR name_number = 0;  // a handed session's local name's, for its NCBRECVANYs
};

// The most a handed session's unread bytes can be: the service stops
// reading at the first whole message, the largest a header may announce.
inline constexpr std::size_t kMaxUnread = 4 + 0x1FFFF;

struct LanaEntry {
    UCHAR number = 0;
    std::string interface_name;
    std::uint32_t address = 0;  // host order
    std::uint32_t broadcast = 0;
    std::array<std::uint8_t, 6> mac{};
    std::uint16_t name_port = 0;
    std::uint16_t datagram_port = 0;
    std::uint16_t session_port = 0;
};

// pid 0: held by the service itself, or by a program it no longer knows.
struct OwnerEntry {
    std::array<std::uint8_t, NCBNAMSZ> name{};
    std::uint32_t pid = 0;
    std::uint32_t uid = 0;
    std::string program;
};

// What a resolve request found. No addresses: nobody answered in time.
struct Resolution {
    std::uint64_t id = 0;
    bool group = false;
    std::vector<std::uint32_t> addresses;  // host order, the first the one to use
};
inline constexpr std::uint8_t kResolvedGroup = 0x01;

// A LANA's name cache, as korvel-nb names shows it (name_cache_view.h).
struct CachedNameEntry {
    std::array<std::uint8_t, NCBNAMSZ> name{};
    bool found = false;
    bool group = false;
    bool from_server = false;
    std::uint32_t address = 0;  // host order
    std::uint32_t left_ms = 0;  // 0 for the names asked for
};
struct NameCacheReport {
    std::uint64_t id = 0;
    bool reset = false;  // the LANA was open; nothing else is filled in otherwise
    char node_type = 'B';
    std::vector<CachedNameEntry> asked;
    std::vector<CachedNameEntry> entries;
};
inline constexpr std::uint8_t kViewReset = 0x01;
inline constexpr std::uint8_t kCachedFound = 0x01, kCachedGroup = 0x02, kCachedFromServer = 0x04;
// As many as fit one message, whatever the cache holds.
inline constexpr std::size_t kMaxViewEntries = 4096;

inline constexpr std::size_t kMaxText = 16;  // interface and program names (IFNAMSIZ, TASK_COMM_LEN)

struct NameConflict {
    UCHAR lana = 0;
    std::array<UCHAR, NCBNAMSZ> name{};
};

struct Reply {
    ReplyType type = ReplyType::kCompleted;
    std::uint64_t id = 0;  // kAccepted, kRefused
    UCHAR rc = 0;          // kRefused
    Completion completion;
    std::vector<LanaEntry> lanas;
    std::vector<OwnerEntry> owners;
    Resolution resolution;
    NameCacheReport name_cache;
    NameConflict conflict;
};

void EncodeAccepted(std::uint64_t id, std::vector<std::uint8_t> &out);
void EncodeRefused(std::uint64_t id, UCHAR rc, std::vector<std::uint8_t> &out);
void EncodeCompletion(const Completion &completion, std::vector<std::uint8_t> &out);
// A CALL's or LISTEN's completion whose session goes to the program; false
// (nothing written) when its unread bytes are more than kMaxUnread.
bool EncodeSessionHanded(const Completion &completion, std::vector<std::uint8_t> &out);
// Texts longer than kMaxText are cut; at most 255 LANAs and 65535 owners.
void EncodeLanaList(const std::vector<LanaEntry> &lanas, std::vector<std::uint8_t> &out);
void EncodeOwnerList(const std::vector<OwnerEntry> &owners, std::vector<std::uint8_t> &out);
// At most kMaxResolvedAddresses of the addresses go.
void EncodeResolution(const Resolution &resolution, std::vector<std::uint8_t> &out);
// At most 255 asked names and kMaxViewEntries cached ones go.
void EncodeNameCacheView(const NameCacheReport &view, std::vector<std::uint8_t> &out);
void EncodeNameConflict(const NameConflict &conflict, std::vector<std::uint8_t> &out);

// nullopt for anything but exactly one well-formed reply.
std::optional<Reply> DecodeReply(std::span<const std::uint8_t> message);

}  // namespace nbt::service
