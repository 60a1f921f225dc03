// SPDX-License-Identifier: MIT
// The numbers of NetBIOS over TCP/IP (RFC 1001/1002), each declared once:
// ports, the name-service flags word and its parts, record types, the
// NAME_FLAGS of node status, and the session service's packet types and
// refusal codes. The flags words the provider sends are composed from their
// parts here and pinned to the values seen on the wire.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nbt::codec {

constexpr std::uint16_t kNameServicePort = 137;      // udp
constexpr std::uint16_t kDatagramServicePort = 138;  // udp
constexpr std::uint16_t kSessionServicePort = 139;   // tcp

// ---- Name service (UDP) ----------------------------------------------------

// NAME_TRN_ID, flags word, QDCOUNT, ANCOUNT, NSCOUNT, ARCOUNT.
constexpr std::size_t kNameHeaderSize = 12;

// The flags word: R (1 bit), OPCODE (4), NM_FLAGS (7), RCODE (4).
constexpr std::uint16_t kFlagResponse = 0x8000;
constexpr unsigned kOpcodeShift = 11;
constexpr std::uint16_t kOpcodeMask = 0x0F;
constexpr std::uint16_t kRcodeMask = 0x0F;
// NM_FLAGS bits, in place in the word.
constexpr std::uint16_t kFlagAuthoritative = 0x0400;       // AA
constexpr std::uint16_t kFlagTruncated = 0x0200;           // TC
constexpr std::uint16_t kFlagRecursionDesired = 0x0100;    // RD
constexpr std::uint16_t kFlagRecursionAvailable = 0x0080;  // RA
constexpr std::uint16_t kFlagBroadcast = 0x0010;           // B

enum class NameOpcode : std::uint8_t {
    kQuery = 0,
    kRegistration = 5,
    kRelease = 6,
    kWack = 7,
    kRefresh = 8,
    kRefreshAlt = 9,
    kMultiHomedRegistration = 15,
};

enum class NameRcode : std::uint8_t {
    kOk = 0,
    kFormatError = 1,  // FMT_ERR
    kServerError = 2,  // SRV_ERR
    kNameError = 3,    // NAM_ERR
    kNotImplemented = 4,
    kRefused = 5,   // RFS_ERR
    kActive = 6,    // ACT_ERR: a B-node defends its name with this
    kConflict = 7,  // CFT_ERR: conflict demand
};

constexpr std::uint16_t RequestFlags(NameOpcode opcode, std::uint16_t nm_flags) {
    return static_cast<std::uint16_t>(static_cast<std::uint16_t>(opcode) << kOpcodeShift | nm_flags);
}
constexpr std::uint16_t ResponseFlags(NameOpcode opcode, std::uint16_t nm_flags, NameRcode rcode) {
    return static_cast<std::uint16_t>(kFlagResponse | RequestFlags(opcode, nm_flags) |
                                      static_cast<std::uint16_t>(rcode));
}

// What a B-node sends.
constexpr std::uint16_t kRegistrationRequestFlags =
    RequestFlags(NameOpcode::kRegistration, kFlagRecursionDesired | kFlagBroadcast);
constexpr std::uint16_t kReleaseRequestFlags = RequestFlags(NameOpcode::kRelease, kFlagBroadcast);
constexpr std::uint16_t kBroadcastQueryFlags =
    RequestFlags(NameOpcode::kQuery, kFlagRecursionDesired | kFlagBroadcast);
constexpr std::uint16_t kUnicastQueryFlags = RequestFlags(NameOpcode::kQuery, 0);
constexpr std::uint16_t kBroadcastNodeStatusFlags = RequestFlags(NameOpcode::kQuery, kFlagBroadcast);
constexpr std::uint16_t kUnicastNodeStatusFlags = RequestFlags(NameOpcode::kQuery, 0);
// Query answers copy RD from the request on top of this.
constexpr std::uint16_t kQueryResponseFlags =
    ResponseFlags(NameOpcode::kQuery, kFlagAuthoritative, NameRcode::kOk);
constexpr std::uint16_t kNegativeQueryResponseFlags =
    ResponseFlags(NameOpcode::kQuery, kFlagAuthoritative, NameRcode::kNameError);
constexpr std::uint16_t kNodeStatusResponseFlags =
    ResponseFlags(NameOpcode::kQuery, kFlagAuthoritative, NameRcode::kOk);
// A defence (negative registration response) and a conflict demand differ
// only in RCODE.
constexpr std::uint16_t kRefusalNmFlags =
    kFlagAuthoritative | kFlagRecursionDesired | kFlagRecursionAvailable;
constexpr std::uint16_t kNegativeRegistrationFlags =
    ResponseFlags(NameOpcode::kRegistration, kRefusalNmFlags, NameRcode::kActive);
constexpr std::uint16_t kConflictDemandFlags =
    ResponseFlags(NameOpcode::kRegistration, kRefusalNmFlags, NameRcode::kConflict);

// What a P, M or H node says to its name server: unicast, so no B bit;
// registrations ask for recursion (RD) as servers expect, refreshes and
// releases do not.
constexpr std::uint16_t kServerRegistrationFlags =
    RequestFlags(NameOpcode::kRegistration, kFlagRecursionDesired);
// A unique name this host holds on several interfaces: the server adds the
// address rather than challenging the one it has.
constexpr std::uint16_t kMultihomedRegistrationFlags =
    RequestFlags(NameOpcode::kMultiHomedRegistration, kFlagRecursionDesired);
constexpr std::uint16_t kRefreshRequestFlags = RequestFlags(NameOpcode::kRefresh, 0);
constexpr std::uint16_t kServerReleaseFlags = RequestFlags(NameOpcode::kRelease, 0);
constexpr std::uint16_t kServerQueryFlags = RequestFlags(NameOpcode::kQuery, kFlagRecursionDesired);
// What a name server answers: a grant, a "wait for acknowledgement" (its
// TTL says how long).
constexpr std::uint16_t kPositiveRegistrationFlags =
    ResponseFlags(NameOpcode::kRegistration, kRefusalNmFlags, NameRcode::kOk);
constexpr std::uint16_t kWackFlags = ResponseFlags(NameOpcode::kWack, kFlagAuthoritative, NameRcode::kOk);

static_assert(kServerRegistrationFlags == 0x2900);
static_assert(kMultihomedRegistrationFlags == 0x7900);
static_assert(kRefreshRequestFlags == 0x4000);
static_assert(kServerReleaseFlags == 0x3000);
static_assert(kServerQueryFlags == 0x0100);
static_assert(kPositiveRegistrationFlags == 0xAD80);
static_assert(kWackFlags == 0xBC00);
static_assert(kRegistrationRequestFlags == 0x2910);
static_assert(kReleaseRequestFlags == 0x3010);
static_assert(kBroadcastQueryFlags == 0x0110);
static_assert(kUnicastQueryFlags == 0x0000);
static_assert(kBroadcastNodeStatusFlags == 0x0010);
static_assert(kUnicastNodeStatusFlags == 0x0000);
static_assert((kQueryResponseFlags | kFlagRecursionDesired) == 0x8500);
static_assert(kNegativeQueryResponseFlags == 0x8403);
static_assert(kNodeStatusResponseFlags == 0x8400);
static_assert(kNegativeRegistrationFlags == 0xAD86);
static_assert(kConflictDemandFlags == 0xAD87);

constexpr std::uint16_t kTypeA = 0x0001;
constexpr std::uint16_t kTypeNs = 0x0002;
constexpr std::uint16_t kTypeNull = 0x000A;
constexpr std::uint16_t kTypeNb = 0x0020;
constexpr std::uint16_t kTypeNbstat = 0x0021;
constexpr std::uint16_t kClassIn = 0x0001;

// NB_FLAGS of an NB resource record.
constexpr std::uint16_t kNbGroup = 0x8000;
constexpr std::uint16_t kNbOntMask = 0x6000;
// ONT, the owner's node type: B 00, P 01, M 10; 11 (reserved in RFC 1002)
// is what H-nodes send and name servers keep.
constexpr unsigned kNbOntShift = 13;
constexpr std::size_t kNbEntrySize = 6;  // NB_FLAGS + IPv4 address

// What peers expect in a positive query answer; B-nodes keep no cache timer.
constexpr std::uint32_t kQueryAnswerTtl = 259200;

// Encoded names: a label length byte whose top two bits are set starts a
// compression pointer (14-bit offset); 0x40 and 0x80 are reserved types.
constexpr std::uint8_t kLabelTypeMask = 0xC0;
constexpr std::uint16_t kPointerOffsetMask = 0x3FFF;
constexpr std::size_t kMaxLabel = 63;
// The first-level encoded 16-byte name: one label of 32 letters 'A'..'P'.
constexpr std::size_t kFirstLevelLabel = 32;
// Longest encoded name the DNS rules allow (length bytes included).
constexpr std::size_t kMaxEncodedName = 255;
// Encoded size of a name without scope: 0x20, 32 letters, terminating 0x00.
constexpr std::size_t kPlainEncodedName = 1 + kFirstLevelLabel + 1;
// The question name always starts right after the header.
constexpr std::uint16_t kPointerToQuestion =
    static_cast<std::uint16_t>(kLabelTypeMask << 8 | kNameHeaderSize);
static_assert(kPointerToQuestion == 0xC00C);

// NAME_FLAGS of a node status entry.
constexpr std::uint16_t kStatusGroup = 0x8000;
constexpr std::uint16_t kStatusOntMask = 0x6000;
constexpr std::uint16_t kStatusDeregistering = 0x1000;  // DRG
constexpr std::uint16_t kStatusConflict = 0x0800;       // CNF
constexpr std::uint16_t kStatusActive = 0x0400;         // ACT
constexpr std::uint16_t kStatusPermanent = 0x0200;      // PRM

constexpr std::size_t kStatisticsSize = 46;
constexpr std::size_t kStatusEntrySize = 18;  // 16-byte name + NAME_FLAGS
constexpr std::size_t kMaxStatusNames = 255;  // NUM_NAMES is one byte

// ---- Session service (TCP) -------------------------------------------------

enum class SessionType : std::uint8_t {
    kMessage = 0x00,
    kRequest = 0x81,
    kPositive = 0x82,
    kNegative = 0x83,
    kRetarget = 0x84,
    kKeepAlive = 0x85,
};

// Error codes of a NEGATIVE SESSION RESPONSE.
enum class SessionRefusal : std::uint8_t {
    kNotListeningOnCalled = 0x80,
    kNotListeningForCalling = 0x81,
    kCalledNotPresent = 0x82,
    kInsufficientResources = 0x83,
    kUnspecified = 0x8F,
};

// TYPE, FLAGS, LENGTH (16 bits).
constexpr std::size_t kSessionHeaderSize = 4;
// LENGTH is 16 bits plus the E (extension) bit of FLAGS.
constexpr std::uint8_t kSessionFlagE = 0x01;
constexpr std::uint32_t kSessionMaxLength = 0x1FFFF;
static_assert(kSessionMaxLength == (std::uint32_t{kSessionFlagE} << 16 | 0xFFFF));
// Fixed body sizes of the control packets.
constexpr std::size_t kNegativeBodySize = 1;
constexpr std::size_t kRetargetBodySize = 6;  // IPv4 address + port

// ---- Datagram service (UDP) ------------------------------------------------

enum class DatagramType : std::uint8_t {
    kDirectUnique = 0x10,
    kDirectGroup = 0x11,
    kBroadcast = 0x12,
    kError = 0x13,
    kQueryRequest = 0x14,  // NBDD only: a B-node ignores the three query packets
    kPositiveQuery = 0x15,
    kNegativeQuery = 0x16,
};

// FLAGS: M (more fragments follow), F (first fragment), SNT (source node type).
constexpr std::uint8_t kDatagramMore = 0x01;
constexpr std::uint8_t kDatagramFirst = 0x02;
constexpr std::uint8_t kDatagramSntMask = 0x0C;
constexpr std::uint8_t kDatagramSntBNode = 0x00;
// SNT holds the node type as ONT does (B 00, P 01, M 10); 11, which RFC
// 1002 gives the NBDD, is what H-nodes send.
constexpr unsigned kDatagramSntShift = 2;
// A whole datagram sent by a B-node in one packet: F set, M clear.
constexpr std::uint8_t kDatagramWholeFlags = kDatagramFirst | kDatagramSntBNode;
static_assert(kDatagramWholeFlags == 0x02);

// DATAGRAM ERROR codes.
enum class DatagramError : std::uint8_t {
    kNameNotPresent = 0x82,
    kInvalidSourceName = 0x83,
    kInvalidDestinationName = 0x84,
};

// MSG_TYPE, FLAGS, DGM_ID, SOURCE_IP, SOURCE_PORT.
constexpr std::size_t kDatagramHeaderSize = 10;
// DGM_LENGTH and PACKET_OFFSET follow the header of the three data packets.
constexpr std::size_t kDatagramDataHeaderSize = kDatagramHeaderSize + 4;
// The largest NBT datagram packet a peer is sure to take whole (nmbd keeps
// no more than this); bigger datagrams go out in fragments.
constexpr std::size_t kMaxDatagramPacket = 576;
// User data of one unfragmented datagram between two unscoped names.
constexpr std::size_t kMaxUnfragmentedUserData =
    kMaxDatagramPacket - kDatagramDataHeaderSize - 2 * kPlainEncodedName;
static_assert(kMaxUnfragmentedUserData == 494);
// How long the pieces of a fragmented datagram wait for the rest (RFC 1002
// FRAGMENT_TIMEOUT).
constexpr unsigned kFragmentTimeoutMs = 2000;

}  // namespace nbt::codec
