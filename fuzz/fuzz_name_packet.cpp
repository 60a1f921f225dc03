// SPDX-License-Identifier: MIT
// Whole name-service datagrams as they arrive on UDP 137, including the
// record payloads the provider looks into (NB addresses, node status).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "name_packet.h"
#include "name_status.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    auto packet = nbt::codec::DecodeNamePacket({data, size});
    if (!packet) return 0;
    for (const auto *section : {&packet->answers, &packet->authority, &packet->additional}) {
        for (const auto &record : *section) {
            if (record.type == nbt::codec::kTypeNb) (void)nbt::codec::DecodeNbRdata(record.rdata);
            if (record.type == nbt::codec::kTypeNbstat) (void)nbt::codec::DecodeNodeStatusRdata(record.rdata);
        }
    }
    // A decoded question name must encode again and decode to itself.
    for (const auto &question : packet->questions) {
        std::vector<std::uint8_t> encoded;
        if (!nbt::codec::AppendEncodedName(encoded, question.name)) std::abort();
        std::size_t pos = 0;
        auto again = nbt::codec::DecodeName(encoded, pos);
        if (!again || !(*again == question.name) || pos != encoded.size()) std::abort();
    }
    return 0;
}
