// SPDX-License-Identifier: MIT
// The report texts built from crafted status replies, and the remote query's
// choice between a name and an adapter address. No window needed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "adapter_report.h"
#include "hex_to_address.h"
#include "session_report.h"

namespace {

using Bytes = std::vector<UCHAR>;

template <typename T>
void Append(Bytes &reply, const T &record) {
    const auto *p = reinterpret_cast<const UCHAR *>(&record);
    reply.insert(reply.end(), p, p + sizeof(T));
}

// A name field holding `text` and then NULs (not padded with spaces).
template <std::size_t N>
void SetName(UCHAR (&field)[N], const char *text) {
    std::memset(field, 0, N);
    std::memcpy(field, text, std::min(std::strlen(text), N));
}

SESSION_BUFFER Session(UCHAR lsn, UCHAR state, const char *local, const char *remote, UCHAR rcvs,
                       UCHAR sends) {
    SESSION_BUFFER s{};
    s.lsn = lsn;
    s.state = state;
    SetName(s.local_name, local);
    SetName(s.remote_name, remote);
    s.rcvs_outstanding = rcvs;
    s.sends_outstanding = sends;
    return s;
}

Bytes SessionReply(UCHAR claimed, std::size_t records) {
    Bytes reply;
    Append(reply, SESSION_HEADER{0xFF, claimed, 0, 0});
    for (std::size_t i = 0; i < records; ++i)
        Append(reply, Session(UCHAR(i + 1), SESSION_ESTABLISHED, "A", "B", 0, 0));
    return reply;
}

std::size_t CountLines(const std::string &text, const std::string &marker) {
    std::size_t n = 0;
    for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) ++n;
    return n;
}

const char kSessionHead[] =
    "SESSIE INFO\n"
    "LSN\tStatus       \t\tLocalName\tRemoteName\tRxD\tTxD\n"
    "=====================================================================\n";

TEST(SessionReport, NoSessionsGivesTheHeaderLineAlone) {
    Bytes reply;
    Append(reply, SESSION_HEADER{255, 0, 3, 1});
    EXPECT_EQ(SessionReport(reply), "Session Name: 255 Number Sessions: 0 RcvDG: 3 RcvAny: 1\n");
}

TEST(SessionReport, ListsEverySessionWithStateColumnOnlyForKnownStates) {
    Bytes reply;
    Append(reply, SESSION_HEADER{2, 3, 0, 0});
    Append(reply, Session(1, SESSION_ESTABLISHED, "KORVEL          ", "PEER", 2, 0));
    Append(reply, Session(12, 0, "0123456789ABCDEF", "", 0, 1));
    Append(reply, Session(254, 7, "X", "Y", 255, 10));
    const std::string expected =
        std::string("Session Name: 2 Number Sessions: 3 RcvDG: 0 RcvAny: 0\n") + kSessionHead +
        "  1\tSESSION_ESTABLISHED \t[KORVEL          ]\t[            PEER] \t  2\t  0\n"
        " 12\t[0123456789ABCDEF]\t[                ] \t  0\t  1\n"
        "254\t[               X]\t[               Y] \t255\t 10\n";
    EXPECT_EQ(SessionReport(reply), expected);
}

TEST(SessionReport, EveryStateHasItsColumnText) {
    const char *texts[] = {"LISTEN_OUTSTANDING  \t", "CALL_PENDING        \t", "SESSION_ESTABLISHED \t",
                           "HANGUP_PENDING      \t", "HANGUP_COMPLETE     \t", "SESSION_ABORTED     \t"};
    for (UCHAR state = 1; state <= 6; ++state) {
        Bytes reply;
        Append(reply, SESSION_HEADER{1, 1, 0, 0});
        Append(reply, Session(5, state, "L", "R", 0, 0));
        const auto report = SessionReport(reply);
        ASSERT_TRUE(report);
        EXPECT_NE(report->find(std::string("  5\t") + texts[state - 1] + "[               L]"),
                  std::string::npos)
            << int(state);
    }
}

TEST(SessionReport, NeverListsMoreThanTheBufferOrTheReplyHolds) {
    // A full buffer claiming 200 sessions holds 111.
    Bytes full = SessionReply(200, 111);
    full.resize(kStatusReplySize);
    EXPECT_EQ(CountLines(*SessionReport(full), "SESSION_ESTABLISHED"), 111u);
    EXPECT_EQ(kMaxSessionRecords, 111u);

    // A provider saying it returned more than our buffer still gets 111.
    EXPECT_EQ(CountLines(*SessionReport(SessionReply(130, 130)), "SESSION_ESTABLISHED"), 111u);

    // Five claimed, two and a half present: only the whole ones are listed.
    Bytes short_reply = SessionReply(5, 3);
    short_reply.resize(short_reply.size() - sizeof(SESSION_BUFFER) / 2);
    const auto report = SessionReport(short_reply);
    ASSERT_TRUE(report);
    EXPECT_NE(report->find("Number Sessions: 5 "), std::string::npos);
    EXPECT_EQ(CountLines(*report, "SESSION_ESTABLISHED"), 2u);
}

TEST(SessionReport, ReplyWithoutAWholeHeaderGivesNoReport) {
    EXPECT_FALSE(SessionReport(Bytes{}));
    EXPECT_FALSE(SessionReport(Bytes{1, 0, 0}));
}

ADAPTER_STATUS Status() {
    ADAPTER_STATUS s{};
    const UCHAR address[6] = {0x00, 0x0A, 0x1B, 0xC2, 0xD3, 0xEF};
    std::memcpy(s.adapter_address, address, 6);
    s.rev_major = 3;
    s.rev_minor = 0;
    s.adapter_type = 0xFE;
    s.duration = 65535;
    s.frmr_recv = 1;
    s.frmr_xmit = 2;
    s.xmit_aborts = 3;
    s.xmit_success = 100;
    s.recv_success = 200;
    s.free_ncbs = 255;
    return s;
}

NAME_BUFFER Name(const char *text, UCHAR num, UCHAR flags) {
    NAME_BUFFER n{};
    SetName(n.name, text);
    n.name_num = num;
    n.name_flags = flags;
    return n;
}

const char kNameHead[] =
    "NAME BUFFERS\n"
    "NAME\t\t\tNumber\tFlag\tFlagStatus\tNameType\n"
    "=====================================================================\n";

TEST(AdapterReport, NoNamesGivesTheThreeCounterLines) {
    Bytes reply;
    Append(reply, Status());
    EXPECT_EQ(AdapterReport(reply),
              "Adapter adres: 000A1BC2D3EF Revision: 3.0 Adapter type: 254\n"
              "Duration: 65535 Frames RxD: 1 Frames TxD: 2 Abort Txd: 3\n"
              "TxD Success: 100 Recv Success: 200 Free NCB:255 Names: 0\n");
}

TEST(AdapterReport, NameFlagsGiveStateAndType) {
    ADAPTER_STATUS status = Status();
    status.name_count = 5;
    Bytes reply;
    Append(reply, status);
    Append(reply, Name("KORVEL          ", 2, 0x84));
    Append(reply, Name("WERKGROEP", 3, 0x0C));
    Append(reply, Name("DUBBEL", 0x1F, 0x06));
    Append(reply, Name("NIEUW", 4, 0x00));
    Append(reply, Name("WEG", 254, 0x87));
    const std::string expected = std::string(
                                     "Adapter adres: 000A1BC2D3EF Revision: 3.0 Adapter type: 254\n"
                                     "Duration: 65535 Frames RxD: 1 Frames TxD: 2 Abort Txd: 3\n"
                                     "TxD Success: 100 Recv Success: 200 Free NCB:255 Names: 5\n") +
                                 kNameHead +
                                 "[KORVEL          ]\t\t   2\t 84 \tREGISTERED\tGROEP_NAME\n"
                                 "[       WERKGROEP]\t\t   3\t  C \tUNKNOWN\tUNIQUE_NAME\n"
                                 "[          DUBBEL]\t\t  1F\t  6 \tDUPLICATE\tUNIQUE_NAME\n"
                                 "[           NIEUW]\t\t   4\t  0 \tREGISTERING\tUNIQUE_NAME\n"
                                 "[             WEG]\t\t  FE\t 87 \tDUPLICATE_DEREG\tGROEP_NAME\n";
    EXPECT_EQ(AdapterReport(reply), expected);
}

TEST(AdapterReport, ThirtyTwoBitCountersPrintAsSigned32BitNumbers) {
    ADAPTER_STATUS status = Status();
    status.xmit_success = 0x80000000u;
    status.recv_success = 0xFFFFFFFFu;
    Bytes reply;
    Append(reply, status);
    const auto report = AdapterReport(reply);
    ASSERT_TRUE(report);
    EXPECT_NE(report->find("TxD Success: -2147483648 Recv Success: -1 Free NCB:255"), std::string::npos)
        << *report;
}

TEST(AdapterReport, NeverListsMoreThanTheBufferOrTheReplyHolds) {
    ADAPTER_STATUS status = Status();
    status.name_count = 300;
    Bytes reply;
    Append(reply, status);
    for (int i = 0; i < 300; ++i) Append(reply, Name("N", UCHAR(i), 0x04));
    EXPECT_EQ(kMaxNameRecords, 218u);
    auto report = AdapterReport(reply);  // the provider claims more than our buffer
    ASSERT_TRUE(report);
    EXPECT_NE(report->find("Names: 300\n"), std::string::npos);
    EXPECT_EQ(CountLines(*report, "REGISTERED"), 218u);

    reply.resize(sizeof(ADAPTER_STATUS) + 7 * sizeof(NAME_BUFFER) + 17);  // 7 whole names and a piece
    EXPECT_EQ(CountLines(*AdapterReport(reply), "REGISTERED"), 7u);
}

TEST(AdapterReport, ReplyWithoutAWholeAdapterRecordGivesNoReport) {
    Bytes reply;
    Append(reply, Status());
    reply.pop_back();
    EXPECT_FALSE(AdapterReport(reply));
}

std::string Address(std::string_view text) {
    UCHAR address[6] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    HexToAddress(address, text);
    char out[18];
    std::snprintf(out, sizeof out, "%02X-%02X-%02X-%02X-%02X-%02X", address[0], address[1], address[2],
                  address[3], address[4], address[5]);
    return out;
}

TEST(HexToAddress, ReadsDigitsFromTheLeftRightAlignedBehindZeros) {
    EXPECT_EQ(Address("0A1B2C3D4E5F"), "0A-1B-2C-3D-4E-5F");
    EXPECT_EQ(Address("1A2B"), "00-00-00-00-1A-2B");
    EXPECT_EQ(Address("0A1B2C3D4E5F7"), "0A-1B-2C-3D-4E-5F");
    EXPECT_EQ(Address(""), "00-00-00-00-00-00");
    EXPECT_EQ(Address("abc"), "00-00-00-00-0A-BC");
    EXPECT_EQ(Address("CAFE"), "00-00-00-00-CA-FE");
}

TEST(RemoteQuery, ChoosesBetweenNameAndAddressByTheTextAlone) {
    EXPECT_FALSE(IsAddressText("*"));
    EXPECT_FALSE(IsAddressText("KORVEL"));
    EXPECT_FALSE(IsAddressText("0A1B2C3D4E5G"));
    EXPECT_FALSE(IsAddressText("0123456789ABCDEF"));  // 16 characters: always a name
    EXPECT_FALSE(IsAddressText("0123456789ABCDEF0123"));
    EXPECT_TRUE(IsAddressText(""));
    EXPECT_TRUE(IsAddressText("CAFE"));
    EXPECT_TRUE(IsAddressText("0a1b2c3d4e5f"));
    EXPECT_TRUE(IsAddressText("0123456789ABCDE"));

    const AddressCallName callname = MakeAddressCallName("1A2B");
    const AddressCallName expected = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x1A, 0x2B};
    EXPECT_EQ(callname, expected);
}

}  // namespace
