// SPDX-License-Identifier: MIT
#include "loopback_node.h"

#include <gtest/gtest.h>

#include <cstring>

namespace nbt::testing {

LoopbackNode::LoopbackNode(Settings settings, UCHAR sessions)
    : OwnProvider(std::move(settings)), ClientCommands(provider, kProcessClient) {
    EXPECT_EQ(ResetLana(provider, 0, 0, sessions), NRC_GOODRET);
}

UCHAR ClientCommands::Reset(UCHAR lsn, UCHAR sessions, UCHAR ncbs, UCHAR names) {
    NCB ncb = MakeNcb(NCBRESET);
    ncb.ncb_lsn = lsn;
    ncb.ncb_callname[0] = sessions;
    ncb.ncb_callname[1] = ncbs;
    ncb.ncb_callname[2] = names;
    return Run(ncb);
}

UCHAR ClientCommands::AddName(const std::array<UCHAR, 16> &name, UCHAR *num, UCHAR command) {
    NCB ncb = MakeNcb(command);
    std::memcpy(ncb.ncb_name, name.data(), 16);
    const UCHAR rc = Run(ncb);
    if (num) *num = ncb.ncb_num;
    return rc;
}

UCHAR ClientCommands::DeleteName(const std::string &text) {
    NCB ncb = MakeNcb(NCBDELNAME);
    SetName(ncb.ncb_name, text);
    return Run(ncb);
}

UCHAR ClientCommands::Status(const std::array<UCHAR, 16> &callname, std::vector<UCHAR> &buffer, WORD length,
                             WORD *returned) {
    buffer.assign(std::max<std::size_t>(length, 1), 0xEE);
    NCB ncb = MakeNcb(NCBASTAT);
    std::memcpy(ncb.ncb_callname, callname.data(), 16);
    ncb.ncb_buffer = buffer.data();
    ncb.ncb_length = length;
    const UCHAR rc = Run(ncb);
    if (returned) *returned = ncb.ncb_length;
    return rc;
}

SESSION_HEADER ClientCommands::SessionHeader(const std::string &name) {
    // Room for the header and every session a reset allows.
    std::vector<UCHAR> buffer(sizeof(SESSION_HEADER) + 255 * sizeof(SESSION_BUFFER));
    NCB ncb = MakeNcb(NCBSSTAT);
    SetName(ncb.ncb_name, name);
    if (name == "*") ncb.ncb_name[0] = '*';
    ncb.ncb_buffer = buffer.data();
    ncb.ncb_length = static_cast<WORD>(buffer.size());
    EXPECT_EQ(Run(ncb), NRC_GOODRET) << "NCBSSTAT of " << name;
    SESSION_HEADER header;
    std::memcpy(&header, buffer.data(), sizeof header);
    return header;
}

std::unique_ptr<AsyncNcb> ClientCommands::Listen(const std::string &local, const std::string &remote,
                                                 UCHAR rto, UCHAR sto) {
    auto listen = std::make_unique<AsyncNcb>(NCBLISTEN);
    SetName(listen->ncb.ncb_name, local);
    SetName(listen->ncb.ncb_callname, remote);
    listen->ncb.ncb_rto = rto;
    listen->ncb.ncb_sto = sto;
    EXPECT_EQ(Submit(*listen), NRC_GOODRET);
    return listen;
}

UCHAR ClientCommands::Call(const std::string &local, const std::string &remote, UCHAR *lsn, UCHAR rto,
                           UCHAR sto) {
    AsyncNcb call(NCBCALL);
    SetName(call.ncb.ncb_name, local);
    SetName(call.ncb.ncb_callname, remote);
    call.ncb.ncb_rto = rto;
    call.ncb.ncb_sto = sto;
    EXPECT_EQ(Submit(call), NRC_GOODRET);
    const UCHAR rc = call.Wait();
    if (lsn) *lsn = call.ncb.ncb_lsn;
    return rc;
}

UCHAR ClientCommands::Send(UCHAR lsn, const void *data, WORD length) {
    NCB ncb = MakeNcb(NCBSEND);
    ncb.ncb_lsn = lsn;
    ncb.ncb_buffer = static_cast<PUCHAR>(const_cast<void *>(data));
    ncb.ncb_length = length;
    return Run(ncb);
}

UCHAR ClientCommands::Receive(UCHAR lsn, void *buffer, WORD length, WORD *got,
                              std::chrono::milliseconds timeout) {
    AsyncNcb recv(NCBRECV);
    recv.ncb.ncb_lsn = lsn;
    recv.ncb.ncb_buffer = static_cast<PUCHAR>(buffer);
    recv.ncb.ncb_length = length;
    EXPECT_EQ(Submit(recv), NRC_GOODRET);
    const UCHAR rc = recv.Wait(timeout);
    EXPECT_NE(rc, NRC_PENDING) << "receive did not complete";
    if (rc == NRC_PENDING) Reset();  // never leave the buffer in the provider's hands
    if (got) *got = recv.ncb.ncb_length;
    return rc;
}

UCHAR ClientCommands::Hangup(UCHAR lsn) {
    NCB ncb = MakeNcb(NCBHANGUP);
    ncb.ncb_lsn = lsn;
    return Run(ncb);
}

asio::ip::address_v4 LoopbackNode::address() const {
    return provider.LanaAddress(0).value_or(asio::ip::address_v4::any());
}

std::array<UCHAR, 16> LoopbackNode::AddressName() const {
    const std::string text = address().to_string();
    std::array<UCHAR, 16> name;
    name.fill(' ');
    std::memcpy(name.data(), text.data(), std::min<std::size_t>(text.size(), 16));
    return name;
}

std::array<UCHAR, 16> LoopbackNode::AdapterName() const {
    std::array<UCHAR, 16> name{};
    const UCHAR mac[6] = {0x02, 0x00, 0x7F, 0x00, 0x00, static_cast<UCHAR>(address().to_uint() & 0xFF)};
    std::memcpy(name.data() + 10, mac, 6);
    return name;
}

asio::ip::tcp::endpoint LoopbackNode::SessionEndpoint() const {
    return {address(), provider.settings().loopback_session_port};
}

StatusView ViewStatus(const std::vector<UCHAR> &buffer) {
    StatusView view;
    std::memcpy(&view.status, buffer.data(), sizeof view.status);
    for (WORD i = 0; i < view.status.name_count; ++i) {
        NAME_BUFFER name;
        std::memcpy(&name, buffer.data() + sizeof(ADAPTER_STATUS) + i * sizeof(NAME_BUFFER), sizeof name);
        view.names.push_back(name);
    }
    return view;
}

const NAME_BUFFER *FindName(const StatusView &view, const std::array<UCHAR, 16> &name) {
    for (const auto &entry : view.names)
        if (std::memcmp(entry.name, name.data(), 16) == 0) return &entry;
    return nullptr;
}

}  // namespace nbt::testing
