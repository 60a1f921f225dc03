// SPDX-License-Identifier: MIT
// Any bytes as a request to korveld and as a reply to a program: whatever
// decodes encodes back to the very same bytes, so nothing is read past the
// message or believed that it does not hold.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "service_reply.h"
#include "service_request.h"

namespace {

using namespace nbt::service;

std::vector<std::uint8_t> EncodeAgain(const Request &request) {
    std::vector<std::uint8_t> out;
    switch (request.type) {
        case RequestType::kSubmit:
            EncodeSubmit(request.submit, out);
            break;
        case RequestType::kLanas:
            EncodeLanasRequest(out);
            break;
        case RequestType::kNameOwners:
            EncodeNameOwnersRequest(request.lana, out);
            break;
        case RequestType::kResolveName:
            EncodeResolveRequest(request.resolve, out);
            break;
        case RequestType::kNameCache:
            EncodeNameCacheRequest(request.name_cache, out);
            break;
        case RequestType::kSessionOver:
            EncodeSessionOver(request.over, out);
            break;
    }
    return out;
}

std::vector<std::uint8_t> EncodeAgain(const Reply &reply) {
    std::vector<std::uint8_t> out;
    switch (reply.type) {
        case ReplyType::kAccepted:
            EncodeAccepted(reply.id, out);
            break;
        case ReplyType::kRefused:
            EncodeRefused(reply.id, reply.rc, out);
            break;
        case ReplyType::kCompleted:
            EncodeCompletion(reply.completion, out);
            break;
        case ReplyType::kLanaList:
            EncodeLanaList(reply.lanas, out);
            break;
        case ReplyType::kOwnerList:
            EncodeOwnerList(reply.owners, out);
            break;
        case ReplyType::kResolved:
            EncodeResolution(reply.resolution, out);
            break;
        case ReplyType::kNameCacheView:
            EncodeNameCacheView(reply.name_cache, out);
            break;
        case ReplyType::kSessionHanded:
            if (!EncodeSessionHanded(reply.completion, out)) __builtin_trap();
            break;
        case ReplyType::kNameConflict:
            EncodeNameConflict(reply.conflict, out);
            break;
    }
    return out;
}

bool Same(std::span<const std::uint8_t> bytes, const std::vector<std::uint8_t> &again) {
    return std::equal(bytes.begin(), bytes.end(), again.begin(), again.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (const auto request = DecodeRequest(bytes)) {
        if (!Same(bytes, EncodeAgain(*request))) __builtin_trap();
        if (request->type == RequestType::kSubmit && SendsData(request->submit.command) &&
            !(request->submit.flags & kNoBuffer) && request->submit.data.size() != request->submit.length)
            __builtin_trap();
    }
    if (const auto reply = DecodeReply(bytes))
        if (!Same(bytes, EncodeAgain(*reply))) __builtin_trap();
    return 0;
}
