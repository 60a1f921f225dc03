// SPDX-License-Identifier: MIT
#include "service_request.h"

#include <algorithm>

#include "service_bytes.h"

namespace nbt::service {
namespace {

// The buffers must be what the block says they are: a program cannot make
// the service send more or less than its ncb_length, nor hand it bytes for
// a command that takes none.
bool BuffersFit(const SubmitRequest &submit) {
    if (!SendsData(submit.command)) {
        if (!submit.data.empty()) return false;
    } else if ((submit.flags & kNoBuffer) ? !submit.data.empty() : submit.data.size() != submit.length) {
        return false;
    }
    if (!IsChainSend(submit.command)) return submit.chained.empty() && !(submit.flags & kNoChained);
    UCHAR callname[NCBNAMSZ];
    std::copy(submit.callname.begin(), submit.callname.end(), callname);
    return (submit.flags & kNoChained) ? submit.chained.empty()
                                       : submit.chained.size() == ChainedLength(callname);
}

}  // namespace

void EncodeSubmit(const SubmitRequest &submit, std::vector<std::uint8_t> &out) {
    codec::ByteWriter writer(out);
    writer.U8(static_cast<std::uint8_t>(RequestType::kSubmit));
    PutU64(writer, submit.id);
    writer.U8(submit.flags);
    writer.U8(submit.command);
    writer.U8(submit.lsn);
    writer.U8(submit.num);
    writer.U8(submit.lana);
    writer.U16(submit.length);
    writer.U8(submit.rto);
    writer.U8(submit.sto);
    writer.Bytes(submit.callname);
    writer.Bytes(submit.name);
    PutU64(writer, submit.cancel_target);
    writer.U8(submit.cancel_command);
    writer.U16(static_cast<std::uint16_t>(submit.data.size()));
    writer.Bytes(submit.data);
    writer.U16(static_cast<std::uint16_t>(submit.chained.size()));
    writer.Bytes(submit.chained);
}

void EncodeLanasRequest(std::vector<std::uint8_t> &out) {
    out.push_back(static_cast<std::uint8_t>(RequestType::kLanas));
}

void EncodeNameOwnersRequest(UCHAR lana, std::vector<std::uint8_t> &out) {
    out.push_back(static_cast<std::uint8_t>(RequestType::kNameOwners));
    out.push_back(lana);
}

void EncodeResolveRequest(const ResolveRequest &resolve, std::vector<std::uint8_t> &out) {
    codec::ByteWriter writer(out);
    writer.U8(static_cast<std::uint8_t>(RequestType::kResolveName));
    PutU64(writer, resolve.id);
    writer.Bytes(resolve.name);
}

void EncodeNameCacheRequest(const NameCacheRequest &request, std::vector<std::uint8_t> &out) {
    codec::ByteWriter writer(out);
    writer.U8(static_cast<std::uint8_t>(RequestType::kNameCache));
    PutU64(writer, request.id);
    writer.U8(request.lana);
    writer.U32(request.wait_ms);
    const std::size_t count = std::min(request.names.size(), kMaxCacheRequestNames);
    writer.U8(static_cast<std::uint8_t>(count));
    for (std::size_t i = 0; i < count; ++i) writer.Bytes(request.names[i]);
}

void EncodeSessionOver(const SessionOver &over, std::vector<std::uint8_t> &out) {
    codec::ByteWriter writer(out);
    writer.U8(static_cast<std::uint8_t>(RequestType::kSessionOver));
    writer.U8(over.lana);
    writer.U8(over.lsn);
    writer.U32(over.sent);
    writer.U32(over.received);
    writer.U16(over.send_failures);
}

std::optional<Request> DecodeRequest(std::span<const std::uint8_t> message) {
    codec::ByteReader reader(message);
    Request request;
    switch (static_cast<RequestType>(reader.U8())) {
        case RequestType::kSubmit: {
            request.type = RequestType::kSubmit;
            SubmitRequest &submit = request.submit;
            submit.id = GetU64(reader);
            submit.flags = reader.U8();
            submit.command = reader.U8();
            submit.lsn = reader.U8();
            submit.num = reader.U8();
            submit.lana = reader.U8();
            submit.length = reader.U16();
            submit.rto = reader.U8();
            submit.sto = reader.U8();
            const auto callname = reader.Bytes(NCBNAMSZ);
            const auto name = reader.Bytes(NCBNAMSZ);
            if (!reader.ok()) return std::nullopt;
            std::copy(callname.begin(), callname.end(), submit.callname.begin());
            std::copy(name.begin(), name.end(), submit.name.begin());
            submit.cancel_target = GetU64(reader);
            submit.cancel_command = reader.U8();
            submit.data = reader.Bytes(reader.U16());
            submit.chained = reader.Bytes(reader.U16());
            if (!reader.AtEnd() || (submit.flags & ~kKnownFlags) || !BuffersFit(submit)) return std::nullopt;
            return request;
        }
        case RequestType::kLanas:
            request.type = RequestType::kLanas;
            break;
        case RequestType::kNameOwners:
            request.type = RequestType::kNameOwners;
            request.lana = reader.U8();
            break;
        case RequestType::kResolveName: {
            request.type = RequestType::kResolveName;
            request.resolve.id = GetU64(reader);
            const auto name = reader.Bytes(NCBNAMSZ);
            if (!reader.ok()) return std::nullopt;
            std::copy(name.begin(), name.end(), request.resolve.name.begin());
            break;
        }
        case RequestType::kNameCache: {
            request.type = RequestType::kNameCache;
            NameCacheRequest &asked = request.name_cache;
            asked.id = GetU64(reader);
            asked.lana = reader.U8();
            asked.wait_ms = reader.U32();
            const std::size_t count = reader.U8();
            if (!reader.ok() || count * NCBNAMSZ != reader.remaining()) return std::nullopt;
            asked.names.resize(count);
            for (auto &name : asked.names) {
                const auto bytes = reader.Bytes(NCBNAMSZ);
                std::copy(bytes.begin(), bytes.end(), name.begin());
            }
            break;
        }
        case RequestType::kSessionOver:
            request.type = RequestType::kSessionOver;
            request.over.lana = reader.U8();
            request.over.lsn = reader.U8();
            request.over.sent = reader.U32();
            request.over.received = reader.U32();
            request.over.send_failures = reader.U16();
            break;
        default:
            return std::nullopt;
    }
    if (!reader.ok() || !reader.AtEnd()) return std::nullopt;
    return request;
}

}  // namespace nbt::service
