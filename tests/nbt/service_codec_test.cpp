// SPDX-License-Identifier: MIT
// The service's messages: what the decoders refuse that the fuzzer cannot
// tell from right (a buffer that is not what its block says, bytes for a
// command that takes none, a count past what the message holds).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "service_reply.h"
#include "service_request.h"

namespace nbt::service {
namespace {

std::vector<std::uint8_t> Encoded(const SubmitRequest &submit) {
    std::vector<std::uint8_t> out;
    EncodeSubmit(submit, out);
    return out;
}

TEST(ServiceCodec, SubmitBuffersMustBeWhatTheBlockSays) {
    const std::vector<std::uint8_t> bytes(5, 0xAB), other(3, 0xCD);
    SubmitRequest send;
    send.id = 0x0102030405060708;
    send.command = NCBSEND | ASYNCH;
    send.length = 5;
    send.data = bytes;
    const auto good = Encoded(send);
    const auto decoded = DecodeRequest(good);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->submit.id, send.id);
    EXPECT_EQ(std::vector<std::uint8_t>(decoded->submit.data.begin(), decoded->submit.data.end()), bytes);

    SubmitRequest longer = send;
    longer.length = 6;  // the block says 6, 5 came
    EXPECT_FALSE(DecodeRequest(Encoded(longer)));
    SubmitRequest receive = send;
    receive.command = NCBRECV;  // a receive sends nothing
    EXPECT_FALSE(DecodeRequest(Encoded(receive)));
    SubmitRequest null_buffer = send;
    null_buffer.flags = kNoBuffer;  // no buffer, yet bytes
    EXPECT_FALSE(DecodeRequest(Encoded(null_buffer)));
    null_buffer.data = {};
    EXPECT_TRUE(DecodeRequest(Encoded(null_buffer)));
    SubmitRequest unknown = send;
    unknown.flags = 0x80;
    EXPECT_FALSE(DecodeRequest(Encoded(unknown)));

    SubmitRequest chain = send;
    chain.command = NCBCHAINSEND;
    const WORD second = 3;
    std::memcpy(chain.callname.data(), &second, sizeof second);
    chain.chained = other;
    EXPECT_TRUE(DecodeRequest(Encoded(chain)));
    chain.chained = std::span(other).first(2);  // the block says 3
    EXPECT_FALSE(DecodeRequest(Encoded(chain)));
    SubmitRequest chained_send = send;
    chained_send.chained = other;  // only a chain send has a second buffer
    EXPECT_FALSE(DecodeRequest(Encoded(chained_send)));

    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(DecodeRequest(std::span(good).first(cut))) << cut;
    auto extra = good;
    extra.push_back(0);
    EXPECT_FALSE(DecodeRequest(extra));
    std::vector<std::uint8_t> lanas;
    EncodeLanasRequest(lanas);
    EXPECT_TRUE(DecodeRequest(lanas));
    lanas.push_back(1);
    EXPECT_FALSE(DecodeRequest(lanas));
    std::vector<std::uint8_t> resolve;
    EncodeResolveRequest({5, {'S', 'A', 'M', 'B', 'A', '1'}}, resolve);
    ASSERT_TRUE(DecodeRequest(resolve));
    EXPECT_EQ(DecodeRequest(resolve)->resolve.name[5], '1');
    resolve.pop_back();
    EXPECT_FALSE(DecodeRequest(resolve));
}

TEST(ServiceCodec, ReplyCountsAndTextsAreBelievedOnlyAsFarAsTheMessageGoes) {
    std::vector<std::uint8_t> owners;
    EncodeOwnerList({{{}, 42, 1000, "korvel-nb"}, {{}, 0, 0, ""}}, owners);
    const auto decoded = DecodeReply(owners);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->owners.size(), 2u);
    EXPECT_EQ(decoded->owners[0].pid, 42u);
    EXPECT_EQ(decoded->owners[0].program, "korvel-nb");

    auto many = owners;
    many[1] = 0xFF;  // 65xxx owners in a message that holds two
    EXPECT_FALSE(DecodeReply(many));
    auto long_text = owners;
    long_text[1 + 2 + NCBNAMSZ + 8] = kMaxText + 1;  // the first program's length
    EXPECT_FALSE(DecodeReply(long_text));

    std::vector<std::uint8_t> lanas;
    EncodeLanaList({{1, "eth0", 0xC6128911, 0xC61289FF, {2, 0x4E, 0x42, 0, 0, 2}, 137, 138, 139}}, lanas);
    ASSERT_TRUE(DecodeReply(lanas));
    EXPECT_EQ(DecodeReply(lanas)->lanas[0].interface_name, "eth0");
    lanas[1] = 2;
    EXPECT_FALSE(DecodeReply(lanas));

    const std::vector<std::uint8_t> data(4, 7);
    Completion done;
    done.id = 9;
    done.data = data;
    std::vector<std::uint8_t> completion;
    EncodeCompletion(done, completion);
    ASSERT_TRUE(DecodeReply(completion));
    completion.pop_back();
    EXPECT_FALSE(DecodeReply(completion));

    std::vector<std::uint8_t> conflict;
    EncodeNameConflict({3, {'C', 'O', 'N'}}, conflict);
    ASSERT_TRUE(DecodeReply(conflict));
    EXPECT_EQ(DecodeReply(conflict)->conflict.lana, 3);
    EXPECT_EQ(DecodeReply(conflict)->conflict.name[2], 'N');
    conflict.pop_back();
    EXPECT_FALSE(DecodeReply(conflict));

    std::vector<std::uint8_t> resolved;
    EncodeResolution({7, false, {0xC612890D, 0x0A000001}}, resolved);
    ASSERT_TRUE(DecodeReply(resolved));
    EXPECT_EQ(DecodeReply(resolved)->resolution.addresses,
              (std::vector<std::uint32_t>{0xC612890D, 0x0A000001}));
    resolved[1 + 8 + 1] = 3;  // three addresses, two there
    EXPECT_FALSE(DecodeReply(resolved));
    resolved[1 + 8 + 1] = 1;  // one, and four bytes too many
    EXPECT_FALSE(DecodeReply(resolved));
    NameCacheReport view;
    view.id = 11;
    view.reset = true;
    view.node_type = 'H';
    view.asked = {{{'S', 'A', 'M', 'B', 'A', '1'}, true, false, false, 0xC612890D, 0}};
    view.entries = {{{'S', 'A', 'M', 'B', 'A', '1'}, true, false, true, 0xC612890D, 299000}};
    std::vector<std::uint8_t> cache;
    EncodeNameCacheView(view, cache);
    ASSERT_TRUE(DecodeReply(cache));
    EXPECT_EQ(DecodeReply(cache)->name_cache.entries[0].left_ms, 299000u);
    EXPECT_TRUE(DecodeReply(cache)->name_cache.entries[0].from_server);
    auto cached = cache;
    cached[cached.size() - 25 - 1] = 2;  // two cached names, one there
    EXPECT_FALSE(DecodeReply(cached));
    auto node_type = cache;
    node_type[1 + 8 + 1] = 'X';
    EXPECT_FALSE(DecodeReply(node_type));
    std::vector<std::uint8_t> asked;
    EncodeNameCacheRequest({3, 1, 15000, {{'S', 'A', 'M', 'B', 'A', '1'}, {'K', 'O', 'R', 'V', 'E', 'L'}}},
                           asked);
    ASSERT_TRUE(DecodeRequest(asked));
    EXPECT_EQ(DecodeRequest(asked)->name_cache.names.size(), 2u);
    asked.pop_back();
    EXPECT_FALSE(DecodeRequest(asked));

    std::vector<std::uint8_t> most;
    EncodeResolution({7, false, std::vector<std::uint32_t>(kMaxResolvedAddresses + 1, 1)}, most);
    EXPECT_EQ(DecodeReply(most)->resolution.addresses.size(), kMaxResolvedAddresses);
    most[1 + 8 + 1] = kMaxResolvedAddresses + 1;  // past the bound, even with the bytes there
    most.insert(most.end(), 4, 1);
    EXPECT_FALSE(DecodeReply(most));
}

}  // namespace
}  // namespace nbt::service
