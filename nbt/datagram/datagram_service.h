// SPDX-License-Identifier: MIT
// The datagram service of one node (RFC 1001/1002 B-node, UDP 138; on the
// loopback adapter the port beside the name and session ports): NCBDGSEND,
// NCBDGSENDBC, NCBDGRECV and NCBDGRECVBC, fragmenting what does not fit one
// packet and reassembling what comes in pieces. It sees the node's names
// through HeldNames (service_links.h) and reads and writes through the
// node's DatagramPort. Network thread only.
//
// Delivery, decided here: a datagram for one of our names goes to the
// oldest NCBDGRECV pending on that name's number, else to the oldest on
// 0xFF (any name); a broadcast datagram goes to every NCBDGRECVBC pending.
// A datagram nobody waits for is dropped and counted (recv_buff_unavail).
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>

#include "command_table.h"
#include "datagram_packet.h"
#include "datagram_reassembly.h"
#include "nb30.h"
#include "netbios_name.h"
#include "service_links.h"

namespace nbt {

class Node;

// The most user data one NCB datagram carries.
inline constexpr WORD kMaxNcbDatagram = 512;

class DatagramService final : public std::enable_shared_from_this<DatagramService>,
                              public CommandTarget,
                              public DatagramReceives {
public:
    // links.names is followed only while this service is open.
    DatagramService(std::shared_ptr<Node> node, const ServiceLinks &links);

    void Submit(NCB *ncb) override;
    // Every packet read from the node's datagram sockets; `unicast` when it
    // came to our own address rather than the broadcast address.
    void OnPacket(std::span<const std::uint8_t> bytes, const asio::ip::udp::endpoint &from, bool unicast);
    // Reset: timers stop; the node has already ended the pending NCBs.
    void Shutdown();

    std::size_t PendingDatagramReceives(UCHAR number, ClientId client) const override;

    std::uint16_t malformed() const { return malformed_; }

private:
    using Handler = void (DatagramService::*)(NCB *);

    void Send(NCB *ncb);
    void SendBroadcast(NCB *ncb);
    void Receive(NCB *ncb);
    void ReceiveBroadcast(NCB *ncb);

    // ncb_num as a sending name: its name, or null after ending the NCB.
    std::optional<NetbiosName> SendingName(NCB *ncb);
    // The user data of a send, or nullopt after ending the NCB with NRC_BUFLEN.
    std::optional<std::vector<std::uint8_t>> UserData(NCB *ncb);
    void Transmit(codec::DatagramType type, const NetbiosName &source, const NetbiosName &destination,
                  std::span<const std::uint8_t> data, const asio::ip::udp::endpoint &to);

    void Deliver(const WholeDatagram &datagram);
    // Fills a receive with the datagram and completes it.
    void Hand(NCB *ncb, const WholeDatagram &datagram);
    // SNT of what we send: our node type, in place in the flags byte.
    std::uint8_t SourceNodeType() const;
    void SendError(const codec::DatagramHeader &header, codec::DatagramError error,
                   const asio::ip::udp::endpoint &to);
    void ArmExpiry();
    bool OurScope(const codec::NetbiosName &name) const;

    std::shared_ptr<Node> node_;
    const ServiceLinks &links_;
    bool open_ = true;
    std::uint16_t next_id_;
    std::deque<NCB *> receives_;            // NCBDGRECV, oldest first
    std::deque<NCB *> broadcast_receives_;  // NCBDGRECVBC
    DatagramReassembly reassembly_;
    asio::steady_timer expiry_;
    bool expiry_armed_ = false;
    std::uint16_t malformed_ = 0;
};

}  // namespace nbt
