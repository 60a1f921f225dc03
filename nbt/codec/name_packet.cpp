// SPDX-License-Identifier: MIT
#include "name_packet.h"

#include "byte_reader.h"
#include "byte_writer.h"

namespace nbt::codec {

namespace {

bool ReadQuestion(ByteReader &in, NameQuestion &out) {
    auto name = ReadName(in);
    if (!name) return false;
    out.name = std::move(*name);
    out.type = in.U16();
    out.klass = in.U16();
    return in.ok();
}

bool ReadRecord(ByteReader &in, NameRecord &out) {
    auto name = ReadName(in);
    if (!name) return false;
    out.name = std::move(*name);
    out.type = in.U16();
    out.klass = in.U16();
    out.ttl = in.U32();
    const std::uint16_t length = in.U16();
    const auto rdata = in.Bytes(length);
    if (!in.ok()) return false;
    out.rdata.assign(rdata.begin(), rdata.end());
    return true;
}

bool ReadRecords(ByteReader &in, std::uint16_t count, std::vector<NameRecord> &out) {
    for (std::uint16_t i = 0; i < count; ++i) {
        NameRecord record;
        if (!ReadRecord(in, record)) return false;
        out.push_back(std::move(record));
    }
    return true;
}

void WriteHeader(ByteWriter &out, std::uint16_t trn_id, std::uint16_t flags, std::uint16_t qd,
                 std::uint16_t an, std::uint16_t ar) {
    out.U16(trn_id);
    out.U16(flags);
    out.U16(qd);
    out.U16(an);
    out.U16(0);
    out.U16(ar);
}

void WriteNbRdata(ByteWriter &out, const NbAddress &address) {
    out.U16(static_cast<std::uint16_t>(kNbEntrySize));
    out.U16(address.flags);
    out.U32(address.ipv4);
}

// Question plus an additional record pointing back at it: registration and release.
std::vector<std::uint8_t> BuildNameClaim(std::uint16_t trn_id, std::uint16_t flags, const NetbiosName &name,
                                         const NbAddress &address, std::uint32_t ttl) {
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    WriteHeader(out, trn_id, flags, 1, 0, 1);
    if (!WriteName(out, name)) return {};
    out.U16(kTypeNb);
    out.U16(kClassIn);
    out.U16(kPointerToQuestion);
    out.U16(kTypeNb);
    out.U16(kClassIn);
    out.U32(ttl);
    WriteNbRdata(out, address);
    return bytes;
}

std::vector<std::uint8_t> BuildQuestionOnly(std::uint16_t trn_id, std::uint16_t flags,
                                            const NetbiosName &name, std::uint16_t type) {
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    WriteHeader(out, trn_id, flags, 1, 0, 0);
    if (!WriteName(out, name)) return {};
    out.U16(type);
    out.U16(kClassIn);
    return bytes;
}

// Header with one answer record, up to and including its TTL.
bool WriteAnswerStart(ByteWriter &out, std::uint16_t trn_id, std::uint16_t flags, const NetbiosName &name,
                      std::uint16_t type, std::uint32_t ttl) {
    WriteHeader(out, trn_id, flags, 0, 1, 0);
    if (!WriteName(out, name)) return false;
    out.U16(type);
    out.U16(kClassIn);
    out.U32(ttl);
    return true;
}

}  // namespace

std::optional<NameHeader> DecodeNameHeader(std::span<const std::uint8_t> bytes) {
    ByteReader in(bytes);
    NameHeader h;
    h.trn_id = in.U16();
    h.flags = in.U16();
    h.qdcount = in.U16();
    h.ancount = in.U16();
    h.nscount = in.U16();
    h.arcount = in.U16();
    if (!in.ok()) return std::nullopt;
    // The smallest question is a pointer, type and class; the smallest
    // record a pointer and its fixed fields with no RDATA.
    constexpr std::size_t kMinQuestion = 2 + 4, kMinRecord = 2 + 10;
    const std::size_t records = std::size_t{h.ancount} + h.nscount + h.arcount;
    if (h.qdcount * kMinQuestion + records * kMinRecord > in.remaining()) return std::nullopt;
    return h;
}

std::optional<NamePacket> DecodeNamePacket(std::span<const std::uint8_t> bytes) {
    NamePacket packet;
    auto header = DecodeNameHeader(bytes);
    if (!header) return std::nullopt;
    auto &h = packet.header = *header;
    ByteReader in(bytes, kNameHeaderSize);
    for (std::uint16_t i = 0; i < h.qdcount; ++i) {
        NameQuestion question;
        if (!ReadQuestion(in, question)) return std::nullopt;
        packet.questions.push_back(std::move(question));
    }
    if (!ReadRecords(in, h.ancount, packet.answers) || !ReadRecords(in, h.nscount, packet.authority) ||
        !ReadRecords(in, h.arcount, packet.additional)) {
        return std::nullopt;
    }
    return packet;
}

std::optional<std::vector<NbAddress>> DecodeNbRdata(std::span<const std::uint8_t> rdata) {
    if (rdata.empty() || rdata.size() % kNbEntrySize != 0) return std::nullopt;
    ByteReader in(rdata);
    std::vector<NbAddress> out;
    while (in.remaining() > 0) {
        NbAddress address;
        address.flags = in.U16();
        address.ipv4 = in.U32();
        out.push_back(address);
    }
    if (!in.ok()) return std::nullopt;
    return out;
}

std::vector<std::uint8_t> BuildRegistrationRequest(std::uint16_t trn_id, const NetbiosName &name, bool group,
                                                   std::uint32_t ipv4) {
    // B-nodes register with TTL 0.
    return BuildNameClaim(trn_id, kRegistrationRequestFlags, name,
                          {static_cast<std::uint16_t>(group ? kNbGroup : 0), ipv4}, 0);
}

std::vector<std::uint8_t> BuildReleaseRequest(std::uint16_t trn_id, const NetbiosName &name, bool group,
                                              std::uint32_t ipv4) {
    return BuildNameClaim(trn_id, kReleaseRequestFlags, name,
                          {static_cast<std::uint16_t>(group ? kNbGroup : 0), ipv4}, 0);
}

std::vector<std::uint8_t> BuildClaimRequest(std::uint16_t trn_id, std::uint16_t flags,
                                            const NetbiosName &name, const NbAddress &address,
                                            std::uint32_t ttl) {
    return BuildNameClaim(trn_id, flags, name, address, ttl);
}

std::vector<std::uint8_t> BuildQueryRequest(std::uint16_t trn_id, const NetbiosName &name, bool broadcast) {
    return BuildQuestionOnly(trn_id, broadcast ? kBroadcastQueryFlags : kUnicastQueryFlags, name, kTypeNb);
}

std::vector<std::uint8_t> BuildServerQueryRequest(std::uint16_t trn_id, const NetbiosName &name) {
    return BuildQuestionOnly(trn_id, kServerQueryFlags, name, kTypeNb);
}

std::vector<std::uint8_t> BuildNodeStatusRequest(std::uint16_t trn_id, const NetbiosName &name,
                                                 bool broadcast) {
    return BuildQuestionOnly(trn_id, broadcast ? kBroadcastNodeStatusFlags : kUnicastNodeStatusFlags, name,
                             kTypeNbstat);
}

std::vector<std::uint8_t> BuildPositiveQueryResponse(std::uint16_t trn_id, std::uint16_t request_flags,
                                                     const NetbiosName &name, const NbAddress &address) {
    return BuildPositiveQueryResponse(trn_id, request_flags, name, std::span(&address, 1));
}

std::vector<std::uint8_t> BuildPositiveQueryResponse(std::uint16_t trn_id, std::uint16_t request_flags,
                                                     const NetbiosName &name,
                                                     std::span<const NbAddress> addresses) {
    if (addresses.empty() || addresses.size() > 0xFFFF / kNbEntrySize) return {};
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    const auto flags =
        static_cast<std::uint16_t>(kQueryResponseFlags | (request_flags & kFlagRecursionDesired));
    if (!WriteAnswerStart(out, trn_id, flags, name, kTypeNb, kQueryAnswerTtl)) return {};
    out.U16(static_cast<std::uint16_t>(addresses.size() * kNbEntrySize));
    for (const NbAddress &address : addresses) {
        out.U16(address.flags);
        out.U32(address.ipv4);
    }
    return bytes;
}

std::vector<std::uint8_t> BuildNegativeQueryResponse(std::uint16_t trn_id, std::uint16_t request_flags,
                                                     const NetbiosName &name) {
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    const auto flags =
        static_cast<std::uint16_t>(kNegativeQueryResponseFlags | (request_flags & kFlagRecursionDesired));
    if (!WriteAnswerStart(out, trn_id, flags, name, kTypeNull, 0)) return {};
    out.U16(0);  // RDLENGTH
    return bytes;
}

std::vector<std::uint8_t> BuildRegistrationRefusal(std::uint16_t trn_id, const NetbiosName &name,
                                                   const NbAddress &offender, NameRcode rcode) {
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    const auto flags = ResponseFlags(NameOpcode::kRegistration, kRefusalNmFlags, rcode);
    if (!WriteAnswerStart(out, trn_id, flags, name, kTypeNb, 0)) return {};
    WriteNbRdata(out, offender);
    return bytes;
}

std::vector<std::uint8_t> BuildRegistrationResponse(std::uint16_t trn_id, const NetbiosName &name,
                                                    const NbAddress &address, std::uint32_t ttl,
                                                    NameRcode rcode) {
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    const auto flags = ResponseFlags(NameOpcode::kRegistration, kRefusalNmFlags, rcode);
    if (!WriteAnswerStart(out, trn_id, flags, name, kTypeNb, ttl)) return {};
    WriteNbRdata(out, address);
    return bytes;
}

std::vector<std::uint8_t> BuildWack(std::uint16_t trn_id, const NetbiosName &name,
                                    std::uint16_t request_flags, std::uint32_t ttl) {
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    if (!WriteAnswerStart(out, trn_id, kWackFlags, name, kTypeNull, ttl)) return {};
    out.U16(2);
    out.U16(request_flags);
    return bytes;
}

std::vector<std::uint8_t> BuildNodeStatusResponse(std::uint16_t trn_id, const NetbiosName &name,
                                                  std::span<const std::uint8_t> rdata) {
    if (rdata.size() > 0xFFFF) return {};
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    if (!WriteAnswerStart(out, trn_id, kNodeStatusResponseFlags, name, kTypeNbstat, 0)) return {};
    out.U16(static_cast<std::uint16_t>(rdata.size()));
    out.Bytes(rdata);
    return bytes;
}

}  // namespace nbt::codec
