#include "name_packet.h"

#include "name_bytes.h"

namespace nbt::codec {

namespace {

constexpr std::uint16_t kRegistrationRequestFlags = 0x2910;  // op 5, RD, B
constexpr std::uint16_t kReleaseRequestFlags = 0x3010;       // op 6, B
constexpr std::uint16_t kBroadcastQueryFlags = 0x0110;       // RD, B
constexpr std::uint16_t kRefusalFlags = 0xAD80;              // R, op 5, AA, RD, RA
constexpr std::uint16_t kNodeStatusResponseFlags = 0x8400;   // R, AA
// Pointer to the question name, which always starts right after the header.
constexpr std::uint16_t kPointerToQuestion = 0xC00C;

bool DecodeQuestion(std::span<const std::uint8_t> bytes, NameByteReader &reader, NameQuestion &out) {
    std::size_t pos = reader.pos();
    auto name = DecodeName(bytes, pos);
    if (!name) return false;
    reader.Seek(pos);
    out.name = std::move(*name);
    out.type = reader.U16();
    out.klass = reader.U16();
    return reader.ok();
}

bool DecodeRecord(std::span<const std::uint8_t> bytes, NameByteReader &reader, NameRecord &out) {
    std::size_t pos = reader.pos();
    auto name = DecodeName(bytes, pos);
    if (!name) return false;
    reader.Seek(pos);
    out.name = std::move(*name);
    out.type = reader.U16();
    out.klass = reader.U16();
    out.ttl = reader.U32();
    std::uint16_t length = reader.U16();
    auto rdata = reader.Bytes(length);
    if (!reader.ok()) return false;
    out.rdata.assign(rdata.begin(), rdata.end());
    return true;
}

bool DecodeRecords(std::span<const std::uint8_t> bytes, NameByteReader &reader, std::uint16_t count,
                   std::vector<NameRecord> &out) {
    for (std::uint16_t i = 0; i < count; ++i) {
        NameRecord record;
        if (!DecodeRecord(bytes, reader, record)) return false;
        out.push_back(std::move(record));
    }
    return true;
}

void PutHeader(std::vector<std::uint8_t> &out, std::uint16_t trn_id, std::uint16_t flags, std::uint16_t qd,
               std::uint16_t an, std::uint16_t ar) {
    PutU16(out, trn_id);
    PutU16(out, flags);
    PutU16(out, qd);
    PutU16(out, an);
    PutU16(out, 0);
    PutU16(out, ar);
}

void PutNbRdata(std::vector<std::uint8_t> &out, const NbAddress &address) {
    PutU16(out, 6);
    PutU16(out, address.flags);
    PutU32(out, address.ipv4);
}

// Question plus an additional record pointing back at it: registration and release.
std::vector<std::uint8_t> BuildNameClaim(std::uint16_t trn_id, std::uint16_t flags, const NetbiosName &name,
                                         bool group, std::uint32_t ipv4) {
    std::vector<std::uint8_t> out;
    PutHeader(out, trn_id, flags, 1, 0, 1);
    if (!AppendEncodedName(out, name)) return {};
    PutU16(out, kTypeNb);
    PutU16(out, kClassIn);
    PutU16(out, kPointerToQuestion);
    PutU16(out, kTypeNb);
    PutU16(out, kClassIn);
    PutU32(out, 0);  // B-nodes register with TTL 0
    PutNbRdata(out, {static_cast<std::uint16_t>(group ? kNbGroup : 0), ipv4});
    return out;
}

std::vector<std::uint8_t> BuildQuestionOnly(std::uint16_t trn_id, std::uint16_t flags,
                                            const NetbiosName &name, std::uint16_t type) {
    std::vector<std::uint8_t> out;
    PutHeader(out, trn_id, flags, 1, 0, 0);
    if (!AppendEncodedName(out, name)) return {};
    PutU16(out, type);
    PutU16(out, kClassIn);
    return out;
}

bool PutAnswerName(std::vector<std::uint8_t> &out, const NetbiosName &name, std::uint16_t type,
                   std::uint32_t ttl) {
    if (!AppendEncodedName(out, name)) return false;
    PutU16(out, type);
    PutU16(out, kClassIn);
    PutU32(out, ttl);
    return true;
}

}  // namespace

std::optional<NamePacket> DecodeNamePacket(std::span<const std::uint8_t> bytes) {
    NameByteReader reader(bytes);
    NamePacket packet;
    auto &h = packet.header;
    h.trn_id = reader.U16();
    h.flags = reader.U16();
    h.qdcount = reader.U16();
    h.ancount = reader.U16();
    h.nscount = reader.U16();
    h.arcount = reader.U16();
    if (!reader.ok()) return std::nullopt;
    for (std::uint16_t i = 0; i < h.qdcount; ++i) {
        NameQuestion question;
        if (!DecodeQuestion(bytes, reader, question)) return std::nullopt;
        packet.questions.push_back(std::move(question));
    }
    if (!DecodeRecords(bytes, reader, h.ancount, packet.answers) ||
        !DecodeRecords(bytes, reader, h.nscount, packet.authority) ||
        !DecodeRecords(bytes, reader, h.arcount, packet.additional)) {
        return std::nullopt;
    }
    return packet;
}

std::optional<std::vector<NbAddress>> DecodeNbRdata(std::span<const std::uint8_t> rdata) {
    if (rdata.empty() || rdata.size() % 6 != 0) return std::nullopt;
    NameByteReader reader(rdata);
    std::vector<NbAddress> out;
    while (reader.remaining() > 0) {
        NbAddress address;
        address.flags = reader.U16();
        address.ipv4 = reader.U32();
        out.push_back(address);
    }
    if (!reader.ok()) return std::nullopt;
    return out;
}

std::vector<std::uint8_t> BuildRegistrationRequest(std::uint16_t trn_id, const NetbiosName &name, bool group,
                                                   std::uint32_t ipv4) {
    return BuildNameClaim(trn_id, kRegistrationRequestFlags, name, group, ipv4);
}

std::vector<std::uint8_t> BuildReleaseRequest(std::uint16_t trn_id, const NetbiosName &name, bool group,
                                              std::uint32_t ipv4) {
    return BuildNameClaim(trn_id, kReleaseRequestFlags, name, group, ipv4);
}

std::vector<std::uint8_t> BuildQueryRequest(std::uint16_t trn_id, const NetbiosName &name, bool broadcast) {
    return BuildQuestionOnly(trn_id, broadcast ? kBroadcastQueryFlags : 0, name, kTypeNb);
}

std::vector<std::uint8_t> BuildNodeStatusRequest(std::uint16_t trn_id, const NetbiosName &name,
                                                 bool broadcast) {
    return BuildQuestionOnly(trn_id, broadcast ? kFlagBroadcast : 0, name, kTypeNbstat);
}

std::vector<std::uint8_t> BuildPositiveQueryResponse(std::uint16_t trn_id, std::uint16_t request_flags,
                                                     const NetbiosName &name, const NbAddress &address) {
    std::vector<std::uint8_t> out;
    auto flags = static_cast<std::uint16_t>(kFlagResponse | kFlagAuthoritative |
                                            (request_flags & kFlagRecursionDesired));
    PutHeader(out, trn_id, flags, 0, 1, 0);
    if (!PutAnswerName(out, name, kTypeNb, kQueryAnswerTtl)) return {};
    PutNbRdata(out, address);
    return out;
}

std::vector<std::uint8_t> BuildNegativeQueryResponse(std::uint16_t trn_id, std::uint16_t request_flags,
                                                     const NetbiosName &name) {
    std::vector<std::uint8_t> out;
    auto flags = static_cast<std::uint16_t>(kFlagResponse | kFlagAuthoritative |
                                            (request_flags & kFlagRecursionDesired) |
                                            static_cast<std::uint16_t>(NameRcode::kNameError));
    PutHeader(out, trn_id, flags, 0, 1, 0);
    if (!PutAnswerName(out, name, kTypeNull, 0)) return {};
    PutU16(out, 0);
    return out;
}

std::vector<std::uint8_t> BuildRegistrationRefusal(std::uint16_t trn_id, const NetbiosName &name,
                                                   const NbAddress &offender, NameRcode rcode) {
    std::vector<std::uint8_t> out;
    PutHeader(out, trn_id, static_cast<std::uint16_t>(kRefusalFlags | static_cast<std::uint16_t>(rcode)), 0,
              1, 0);
    if (!PutAnswerName(out, name, kTypeNb, 0)) return {};
    PutNbRdata(out, offender);
    return out;
}

std::vector<std::uint8_t> BuildNodeStatusResponse(std::uint16_t trn_id, const NetbiosName &name,
                                                  std::span<const std::uint8_t> rdata) {
    std::vector<std::uint8_t> out;
    if (rdata.size() > 0xFFFF) return {};
    PutHeader(out, trn_id, kNodeStatusResponseFlags, 0, 1, 0);
    if (!PutAnswerName(out, name, kTypeNbstat, 0)) return {};
    PutU16(out, static_cast<std::uint16_t>(rdata.size()));
    out.insert(out.end(), rdata.begin(), rdata.end());
    return out;
}

}  // namespace nbt::codec
