// SPDX-License-Identifier: MIT
// Why a reset could not bind a socket, told to the operator. The reset only
// returns NRC_OPENERR; the line written here says which address and port,
// whether the privilege is missing or the port is taken, and by which
// program when that can be found. It goes to standard error and to syslog
// (and so to the journal).
#pragma once

#include <asio/error_code.hpp>
#include <asio/ip/address_v4.hpp>
#include <cstdint>
#include <string>

#include "nb30.h"

namespace nbt {

// SO_BINDTODEVICE: ties a socket to the LANA's interface.
inline constexpr const char kTieStep[] = "tie";

struct BindFailure {
    UCHAR lana = 0;
    std::string interface_name;  // "" on LANA 0
    std::string step;            // "bind", "listen on", "open a socket for", or kTieStep
    asio::ip::address_v4 address;
    std::uint16_t port = 0;
    bool tcp = false;
    asio::error_code error;
};

// "nmbd (pid 812)" for the process holding a socket bound to port (on
// address or on the wildcard address); "a program of uid 0" when the socket
// is there but its process cannot be seen; "" when there is no such socket.
std::string PortHolder(bool tcp, const asio::ip::address_v4 &address, std::uint16_t port);

// One line, without the program name in front.
std::string DescribeBindFailure(const BindFailure &failure);

// Writes "program: line" to standard error and to syslog.
void ReportBindFailure(const BindFailure &failure);

}  // namespace nbt
