// SPDX-License-Identifier: MIT
#include "service_reply.h"

#include <algorithm>

#include "service_bytes.h"

namespace nbt::service {
namespace {

void PutText(codec::ByteWriter &writer, const std::string &text) {
    const std::size_t length = std::min(text.size(), kMaxText);
    writer.U8(static_cast<std::uint8_t>(length));
    writer.Bytes({reinterpret_cast<const std::uint8_t *>(text.data()), length});
}

bool GetText(codec::ByteReader &reader, std::string *text) {
    const std::size_t length = reader.U8();
    if (length > kMaxText) return false;
    const auto bytes = reader.Bytes(length);
    text->assign(bytes.begin(), bytes.end());
    return reader.ok();
}

template <std::size_t N>
bool GetArray(codec::ByteReader &reader, std::array<std::uint8_t, N> *out) {
    const auto bytes = reader.Bytes(N);
    if (!reader.ok()) return false;
    std::copy(bytes.begin(), bytes.end(), out->begin());
    return true;
}

// The smallest entry of each list: a count is believed only as far as
// the message could hold that many.
constexpr std::size_t kMinLanaEntry = 1 + 1 + 4 + 4 + 6 + 3 * 2;
constexpr std::size_t kMinOwnerEntry = NCBNAMSZ + 4 + 4 + 1;

// What a completion and a handed session's completion both begin with: the
// id and the NCB's output fields.
void PutCompletionHead(codec::ByteWriter &writer, const Completion &completion) {
    PutU64(writer, completion.id);
    writer.U8(completion.rc);
    writer.U8(completion.lsn);
    writer.U8(completion.num);
    writer.U16(completion.length);
    writer.Bytes(completion.callname);
    writer.Bytes(completion.name);
}

bool GetCompletionHead(codec::ByteReader &reader, Completion *done) {
    done->id = GetU64(reader);
    done->rc = reader.U8();
    done->lsn = reader.U8();
    done->num = reader.U8();
    done->length = reader.U16();
    return GetArray(reader, &done->callname) && GetArray(reader, &done->name);
}

}  // namespace

void EncodeAccepted(std::uint64_t id, std::vector<std::uint8_t> &out) {
    codec::ByteWriter writer(out);
    writer.U8(static_cast<std::uint8_t>(ReplyType::kAccepted));
    PutU64(writer, id);
}

void EncodeRefused(std::uint64_t id, UCHAR rc, std::vector<std::uint8_t> &out) {
    codec::ByteWriter writer(out);
    writer.U8(static_cast<std::uint8_t>(ReplyType::kRefused));
    PutU64(writer, id);
    writer.U8(rc);
}

void EncodeCompletion(const Completion &completion, std::vector<std::uint8_t> &out) {
    codec::ByteWriter writer(out);
    writer.U8(static_cast<std::uint8_t>(ReplyType::kCompleted));
    PutCompletionHead(writer, completion);
    writer.U16(static_cast<std::uint16_t>(completion.data.size()));
    writer.Bytes(completion.data);
}

bool EncodeSessionHanded(const Completion &completion, std::vector<std::uint8_t> &out) {
    if (completion.unread.size() > kMaxUnread) return false;
    codec::ByteWriter writer(out);
    writer.U8(static_cast<std::uint8_t>(ReplyType::kSessionHanded));
    PutCompletionHead(writer, completion);
    writer.U8(completion.name_number);
    writer.U32(static_cast<std::uint32_t>(completion.unread.size()));
    writer.Bytes(completion.unread);
    return true;
}

void EncodeLanaList(const std::vector<LanaEntry> &lanas, std::vector<std::uint8_t> &out) {
    codec::ByteWriter writer(out);
    writer.U8(static_cast<std::uint8_t>(ReplyType::kLanaList));
    const std::size_t count = std::min<std::size_t>(lanas.size(), 0xFF);
    writer.U8(static_cast<std::uint8_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const LanaEntry &lana = lanas[i];
        writer.U8(lana.number);
        PutText(writer, lana.interface_name);
        writer.U32(lana.address);
        writer.U32(lana.broadcast);
        writer.Bytes(lana.mac);
        writer.U16(lana.name_port);
        writer.U16(lana.datagram_port);
        writer.U16(lana.session_port);
    }
}

void EncodeOwnerList(const std::vector<OwnerEntry> &owners, std::vector<std::uint8_t> &out) {
    codec::ByteWriter writer(out);
    writer.U8(static_cast<std::uint8_t>(ReplyType::kOwnerList));
    const std::size_t count = std::min<std::size_t>(owners.size(), 0xFFFF);
    writer.U16(static_cast<std::uint16_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        writer.Bytes(owners[i].name);
        writer.U32(owners[i].pid);
        writer.U32(owners[i].uid);
        PutText(writer, owners[i].program);
    }
}

void EncodeResolution(const Resolution &resolution, std::vector<std::uint8_t> &out) {
    codec::ByteWriter writer(out);
    writer.U8(static_cast<std::uint8_t>(ReplyType::kResolved));
    PutU64(writer, resolution.id);
    writer.U8(resolution.group ? kResolvedGroup : 0);
    const std::size_t count = std::min(resolution.addresses.size(), kMaxResolvedAddresses);
    writer.U8(static_cast<std::uint8_t>(count));
    for (std::size_t i = 0; i < count; ++i) writer.U32(resolution.addresses[i]);
}

namespace {

constexpr std::size_t kCachedEntrySize = NCBNAMSZ + 1 + 4 + 4;

void PutCached(codec::ByteWriter &writer, const CachedNameEntry &entry) {
    writer.Bytes(entry.name);
    writer.U8((entry.found ? kCachedFound : 0) | (entry.group ? kCachedGroup : 0) |
              (entry.from_server ? kCachedFromServer : 0));
    writer.U32(entry.address);
    writer.U32(entry.left_ms);
}

// The count was checked against what the message holds.
bool GetCached(codec::ByteReader &reader, std::size_t count, std::vector<CachedNameEntry> *entries) {
    if (count * kCachedEntrySize > reader.remaining()) return false;
    entries->resize(count);
    for (CachedNameEntry &entry : *entries) {
        if (!GetArray(reader, &entry.name)) return false;
        const std::uint8_t flags = reader.U8();
        if (flags & ~(kCachedFound | kCachedGroup | kCachedFromServer)) return false;
        entry.found = flags & kCachedFound;
        entry.group = flags & kCachedGroup;
        entry.from_server = flags & kCachedFromServer;
        entry.address = reader.U32();
        entry.left_ms = reader.U32();
    }
    return reader.ok();
}

bool KnownNodeType(char type) {
    return type == 'B' || type == 'P' || type == 'M' || type == 'H';
}

}  // namespace

void EncodeNameCacheView(const NameCacheReport &view, std::vector<std::uint8_t> &out) {
    codec::ByteWriter writer(out);
    writer.U8(static_cast<std::uint8_t>(ReplyType::kNameCacheView));
    PutU64(writer, view.id);
    writer.U8(view.reset ? kViewReset : 0);
    writer.U8(static_cast<std::uint8_t>(KnownNodeType(view.node_type) ? view.node_type : 'B'));
    const std::size_t asked = std::min<std::size_t>(view.asked.size(), 0xFF);
    writer.U8(static_cast<std::uint8_t>(asked));
    for (std::size_t i = 0; i < asked; ++i) PutCached(writer, view.asked[i]);
    const std::size_t cached = std::min(view.entries.size(), kMaxViewEntries);
    writer.U16(static_cast<std::uint16_t>(cached));
    for (std::size_t i = 0; i < cached; ++i) PutCached(writer, view.entries[i]);
}

void EncodeNameConflict(const NameConflict &conflict, std::vector<std::uint8_t> &out) {
    codec::ByteWriter writer(out);
    writer.U8(static_cast<std::uint8_t>(ReplyType::kNameConflict));
    writer.U8(conflict.lana);
    writer.Bytes(conflict.name);
}

std::optional<Reply> DecodeReply(std::span<const std::uint8_t> message) {
    codec::ByteReader reader(message);
    Reply reply;
    reply.type = static_cast<ReplyType>(reader.U8());
    switch (reply.type) {
        case ReplyType::kAccepted:
            reply.id = GetU64(reader);
            break;
        case ReplyType::kRefused:
            reply.id = GetU64(reader);
            reply.rc = reader.U8();
            break;
        case ReplyType::kCompleted: {
            Completion &done = reply.completion;
            if (!GetCompletionHead(reader, &done)) return std::nullopt;
            done.data = reader.Bytes(reader.U16());
            break;
        }
        case ReplyType::kSessionHanded: {
            Completion &done = reply.completion;
            if (!GetCompletionHead(reader, &done)) return std::nullopt;
            done.name_number = reader.U8();
            const std::size_t unread = reader.U32();
            if (!reader.ok() || unread > kMaxUnread || unread > reader.remaining()) return std::nullopt;
            done.unread = reader.Bytes(unread);
            break;
        }
        case ReplyType::kLanaList: {
            const std::size_t count = reader.U8();
            if (count * kMinLanaEntry > reader.remaining()) return std::nullopt;
            reply.lanas.resize(count);
            for (LanaEntry &lana : reply.lanas) {
                lana.number = reader.U8();
                if (!GetText(reader, &lana.interface_name)) return std::nullopt;
                lana.address = reader.U32();
                lana.broadcast = reader.U32();
                if (!GetArray(reader, &lana.mac)) return std::nullopt;
                lana.name_port = reader.U16();
                lana.datagram_port = reader.U16();
                lana.session_port = reader.U16();
            }
            break;
        }
        case ReplyType::kOwnerList: {
            const std::size_t count = reader.U16();
            if (count * kMinOwnerEntry > reader.remaining()) return std::nullopt;
            reply.owners.resize(count);
            for (OwnerEntry &owner : reply.owners) {
                if (!GetArray(reader, &owner.name)) return std::nullopt;
                owner.pid = reader.U32();
                owner.uid = reader.U32();
                if (!GetText(reader, &owner.program)) return std::nullopt;
            }
            break;
        }
        case ReplyType::kResolved: {
            Resolution &resolution = reply.resolution;
            resolution.id = GetU64(reader);
            const std::uint8_t flags = reader.U8();
            const std::size_t count = reader.U8();
            if (!reader.ok() || (flags & ~kResolvedGroup) || count > kMaxResolvedAddresses ||
                count * 4 != reader.remaining())
                return std::nullopt;
            resolution.group = flags & kResolvedGroup;
            for (std::size_t i = 0; i < count; ++i) resolution.addresses.push_back(reader.U32());
            break;
        }
        case ReplyType::kNameCacheView: {
            NameCacheReport &view = reply.name_cache;
            view.id = GetU64(reader);
            const std::uint8_t flags = reader.U8();
            view.node_type = static_cast<char>(reader.U8());
            if (!reader.ok() || (flags & ~kViewReset) || !KnownNodeType(view.node_type)) return std::nullopt;
            view.reset = flags & kViewReset;
            if (!GetCached(reader, reader.U8(), &view.asked)) return std::nullopt;
            const std::size_t cached = reader.U16();
            if (cached > kMaxViewEntries || !GetCached(reader, cached, &view.entries)) return std::nullopt;
            break;
        }
        case ReplyType::kNameConflict:
            reply.conflict.lana = reader.U8();
            if (!GetArray(reader, &reply.conflict.name)) return std::nullopt;
            break;
        default:
            return std::nullopt;
    }
    if (!reader.AtEnd()) return std::nullopt;
    return reply;
}

}  // namespace nbt::service
