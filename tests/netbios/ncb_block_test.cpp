// SPDX-License-Identifier: MIT
#include "ncb_block.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <set>

#include "scripted_netbios.h"

namespace {

// Byte ranges of the NCB fields, to check that an operation changes only the
// fields it owns.
struct Field {
    const char *name;
    std::size_t offset, size;
};
#define FIELD(f)                             \
    Field {                                  \
#f, offsetof(NCB, f), sizeof(NCB::f) \
    }
const Field kFields[] = {FIELD(ncb_command),  FIELD(ncb_retcode), FIELD(ncb_lsn),      FIELD(ncb_num),
                         FIELD(ncb_buffer),   FIELD(ncb_length),  FIELD(ncb_callname), FIELD(ncb_name),
                         FIELD(ncb_rto),      FIELD(ncb_sto),     FIELD(ncb_post),     FIELD(ncb_lana_num),
                         FIELD(ncb_cmd_cplt), FIELD(ncb_reserve), FIELD(ncb_event)};
#undef FIELD

// Fills every field with a pattern no operation writes.
void Poison(CNcbBlock &block) {
    auto *raw = reinterpret_cast<unsigned char *>(static_cast<NCB *>(&block));
    for (const Field &f : kFields) std::memset(raw + f.offset, 0xA5, f.size);
}

// Names of the fields whose bytes differ between the two blocks.
std::set<std::string> Changed(const NCB &before, const NCB &after) {
    std::set<std::string> names;
    auto *a = reinterpret_cast<const unsigned char *>(&before);
    auto *b = reinterpret_cast<const unsigned char *>(&after);
    for (const Field &f : kFields)
        if (std::memcmp(a + f.offset, b + f.offset, f.size) != 0) names.insert(f.name);
    return names;
}

class CommandLayer : public ::testing::Test {
protected:
    void SetUp() override {
        scripted::Clear();
        Poison(block);
    }
    const NCB &Submitted(std::size_t i = 0) { return scripted::Log().at(i).ncb; }
    NCB Before() const { return block; }
    CNcbBlock block;
};

std::string Name16(const UCHAR *field) {
    return std::string(reinterpret_cast<const char *>(field), 16);
}

TEST_F(CommandLayer, EachOperationWritesOnlyItsFields) {
    char buffer[64];
    struct Case {
        const char *what;
        std::function<void(CNcbBlock &)> run;
        std::set<std::string> writes;
    };
    const Case cases[] = {
        {"AddName",
         [](CNcbBlock &b) { b.AddName("ALPHA"); },
         {"ncb_command", "ncb_name", "ncb_sto", "ncb_rto", "ncb_event"}},
        {"DeleteName", [](CNcbBlock &b) { b.DeleteName(7); }, {"ncb_num", "ncb_command"}},
        {"Listen",
         [](CNcbBlock &b) { b.Listen("*", "ALPHA", nullptr); },
         {"ncb_event", "ncb_command", "ncb_sto", "ncb_rto", "ncb_post", "ncb_callname", "ncb_name"}},
        {"Call",
         [](CNcbBlock &b) { b.Call("BETA", "ALPHA", nullptr); },
         {"ncb_command", "ncb_sto", "ncb_rto", "ncb_post", "ncb_event", "ncb_callname", "ncb_name"}},
        {"Hangup", [](CNcbBlock &b) { b.Hangup(3, 4, false); }, {"ncb_command", "ncb_lsn", "ncb_num"}},
        {"Send",
         [](CNcbBlock &b) { b.Send(3, "hi", false); },
         {"ncb_command", "ncb_lsn", "ncb_buffer", "ncb_length"}},
        {"Receive",
         [&](CNcbBlock &b) { b.Receive(3, buffer, sizeof buffer, false); },
         {"ncb_command", "ncb_lsn", "ncb_buffer", "ncb_length"}},
        {"SessionStatus",
         [&](CNcbBlock &b) { b.SessionStatus(3, "*", buffer, sizeof buffer, false); },
         {"ncb_command", "ncb_lsn", "ncb_name", "ncb_buffer", "ncb_length"}},
        {"AdapterStatus",
         [&](CNcbBlock &b) { b.AdapterStatus(2, "*", buffer, sizeof buffer, false); },
         {"ncb_command", "ncb_lana_num", "ncb_callname", "ncb_buffer", "ncb_length"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        scripted::Clear();
        Poison(block);
        const NCB before = block;
        c.run(block);
        // What went to Netbios differs from before only in the operation's fields.
        ASSERT_EQ(scripted::Log().size(), 1u);
        EXPECT_EQ(Changed(before, Submitted()), c.writes);
        // Afterwards the return code is the provider's, and nothing else moved.
        std::set<std::string> after = c.writes;
        after.insert({"ncb_retcode", "ncb_cmd_cplt"});
        EXPECT_EQ(Changed(before, block), after);
    }
}

TEST_F(CommandLayer, CommandCodesAndValues) {
    char buffer[16];
    block.AddName("ALPHA");
    EXPECT_EQ(Submitted(0).ncb_command, NCBADDNAME);
    EXPECT_EQ(Submitted(0).ncb_sto, 10);
    EXPECT_EQ(Submitted(0).ncb_rto, 10);
    EXPECT_EQ(Submitted(0).ncb_event, nullptr);
    block.Listen("BETA", "ALPHA", nullptr);
    EXPECT_EQ(Submitted(1).ncb_command, NCBLISTEN);
    EXPECT_EQ(Name16(Submitted(1).ncb_callname), "BETA            ");
    EXPECT_EQ(Submitted(1).ncb_post, nullptr);
    EXPECT_EQ(Submitted(1).ncb_rto, 0);
    block.Hangup(1, 2, true);
    EXPECT_EQ(Submitted(2).ncb_command, NCBHANGUP | ASYNCH);
    block.Send(9, "", false);
    EXPECT_EQ(Submitted(3).ncb_command, NCBSEND);
    EXPECT_EQ(Submitted(3).ncb_length, 0);  // an empty text sends nothing
    block.Receive(9, buffer, 4000, true);
    EXPECT_EQ(Submitted(4).ncb_command, NCBRECV | ASYNCH);
    EXPECT_EQ(Submitted(4).ncb_length, 4000);
    block.SessionStatus(1, "*", buffer, 4000, true);
    EXPECT_EQ(Submitted(5).ncb_command, NCBSSTAT | ASYNCH);
    block.AdapterStatus(3, "*", buffer, 4000, false);
    EXPECT_EQ(Submitted(6).ncb_command, NCBASTAT);
    EXPECT_EQ(Submitted(6).ncb_lana_num, 3);
    EXPECT_EQ(Name16(Submitted(6).ncb_callname), "*               ");
    block.Call("BETA", "ALPHA", nullptr);
    EXPECT_EQ(Submitted(7).ncb_command, NCBCALL);
}

TEST_F(CommandLayer, AdapterAddressCallnameIsCopiedRaw) {
    const char address[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0x7F, 0, 0, 0x05};
    char buffer[60];
    block.AdapterStatus(0, address, buffer, sizeof buffer, false);
    EXPECT_EQ(std::memcmp(Submitted().ncb_callname, address, 16), 0);
}

TEST_F(CommandLayer, SendLengthIsLow16BitsOfTextLength) {
    std::string text(70000, 'x');
    block.Send(1, text.c_str(), false);
    EXPECT_EQ(Submitted().ncb_length, 70000 & 0xFFFF);
}

TEST_F(CommandLayer, ResultsFollowTheReturnCode) {
    scripted::PushCode(NRC_INUSE);
    EXPECT_FALSE(block.AddName("ALPHA"));
    EXPECT_EQ(block.ncb_retcode, NRC_INUSE);
    EXPECT_FALSE(block.IsOk());
    scripted::PushCode(NRC_GOODRET);
    EXPECT_TRUE(block.DeleteName(2));
    EXPECT_TRUE(block.IsOk());
}

TEST_F(CommandLayer, StateCarriesFromCommandToCommand) {
    scripted::Push([](NCB &ncb) { ncb.ncb_num = 5; });
    block.AddName("ALPHA");
    EXPECT_EQ(block.ncb_num, 5);
    // A delete right after the add acts on the name the add left behind.
    block.DeleteName(block.ncb_num);
    EXPECT_EQ(Name16(Submitted(1).ncb_name), "ALPHA           ");
    EXPECT_EQ(Submitted(1).ncb_num, 5);

    // After a session status the delete acts on "*" padded with spaces.
    char buffer[64];
    block.SessionStatus(0, "*", buffer, sizeof buffer, false);
    block.DeleteName(2);
    EXPECT_EQ(Name16(Submitted(3).ncb_name), "*               ");

    // A listen leaves its new session number behind.
    scripted::Push([](NCB &ncb) { ncb.ncb_lsn = 17; });
    block.Listen("*", "ALPHA", nullptr);
    EXPECT_EQ(block.ncb_lsn, 17);
}

TEST_F(CommandLayer, PrivateBlocksLeaveTheMemberBlockAlone) {
    scripted::PushCode(NRC_NOCALL);
    block.Call("BETA", "ALPHA", nullptr);
    const NCB before = block;

    scripted::Push([](NCB &ncb) {
        auto *lanas = reinterpret_cast<LANA_ENUM *>(ncb.ncb_buffer);
        lanas->length = 1;
        lanas->lana[0] = 0;
    });
    LANA_ENUM lanas{};
    EXPECT_EQ(block.EnumLanas(&lanas, sizeof lanas), NRC_GOODRET);
    EXPECT_EQ(lanas.length, 1);
    scripted::PushCode(NRC_OPENERR);
    EXPECT_EQ(ResetAdapter(32, 32, 1), NRC_OPENERR);

    EXPECT_TRUE(Changed(before, block).empty());
    EXPECT_EQ(block.ncb_retcode, NRC_NOCALL);
}

TEST_F(CommandLayer, PrivateBlocksAreClearedAndFilled) {
    LANA_ENUM lanas{};
    block.EnumLanas(&lanas, 256);
    NCB expected_enum{};
    expected_enum.ncb_command = NCBENUM;
    expected_enum.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    expected_enum.ncb_length = 256;
    EXPECT_TRUE(Changed(expected_enum, Submitted(0)).empty());

    ResetAdapter(32, 20, 7);
    NCB expected_reset{};
    expected_reset.ncb_command = NCBRESET;
    expected_reset.ncb_callname[0] = 32;
    expected_reset.ncb_callname[2] = 20;
    expected_reset.ncb_lana_num = 7;
    EXPECT_TRUE(Changed(expected_reset, Submitted(1)).empty());
}

TEST(PadName, EmptyExactAndLongNames) {
    UCHAR field[17];
    field[16] = 0x5A;  // guard byte: nothing is written past the field
    CNcbBlock::PadName(field, "");
    EXPECT_EQ(Name16(field), std::string(16, ' '));
    CNcbBlock::PadName(field, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(Name16(field), "ABCDEFGHIJKLMNOP");
    CNcbBlock::PadName(field, "ABCDEFGHIJKLMNOPQ");
    EXPECT_EQ(Name16(field), "ABCDEFGHIJKLMNOP");
    CNcbBlock::PadName(field, "mixed Case");
    EXPECT_EQ(Name16(field), "mixed Case      ");
    EXPECT_EQ(field[16], 0x5A);
}

}  // namespace
