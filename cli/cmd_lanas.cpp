// SPDX-License-Identifier: MIT
// lanas: the adapters, as the provider numbers them.
#include "command.h"
#include "lana_info.h"
#include "names.h"
#include "text_format.h"

namespace cli {
namespace {

// LANA 0 gives each process its own node: address and adapter address are
// chosen when it is reset.
std::string AddressOf(const LanaInfo &lana) {
    return lana.loopback ? "127.0.0.N" : FormatIpv4(lana.address);
}

std::string AdapterAddressOf(const LanaInfo &lana) {
    return lana.loopback ? "02:00:7F:00:00:NN" : FormatAdapterAddress(lana.mac.data());
}

// name/datagram/session, as 137/138/139 are.
std::string PortsOf(const LanaInfo &lana) {
    return std::to_string(lana.name_port) + "/" + std::to_string(lana.datagram_port) + "/" +
           std::to_string(lana.session_port);
}

// Who carries the LANA's commands: korveld, or this process itself.
std::string ProviderOf(const LanaInfo &lana) {
    return lana.service ? "service" : "embedded";
}

Json LanaJson(const LanaInfo &lana) {
    Json entry = Json::Object();
    entry.Set("lana", static_cast<unsigned>(lana.number));
    entry.Set("interface", lana.interface_name);
    entry.Set("address", AddressOf(lana));
    entry.Set("broadcast", FormatIpv4(lana.broadcast));
    entry.Set("name_port", static_cast<unsigned>(lana.name_port));
    entry.Set("datagram_port", static_cast<unsigned>(lana.datagram_port));
    entry.Set("session_port", static_cast<unsigned>(lana.session_port));
    entry.Set("adapter_address", AdapterAddressOf(lana));
    entry.Set("per_process", lana.loopback);
    entry.Set("provider", ProviderOf(lana));
    // korveld keeps each interface's number; this process numbers afresh.
    entry.Set("stable_number", lana.service);
    return entry;
}

int RunLanas(Context &context, const ParsedArgs &args) {
    if (!args.operands.empty()) return context.Usage("lanas takes no operands");
    Json list = Json::Array();
    Table table({"LANA", "INTERFACE", "ADDRESS", "BROADCAST", "PORTS", "ADAPTER ADDRESS", "PROVIDER"});
    bool numbered_here = false;
    for (const LanaInfo &lana : ReadLanas()) {
        numbered_here = numbered_here || (!lana.loopback && !lana.service);
        list.Push(LanaJson(lana));
        table.Add({std::to_string(lana.number), lana.interface_name, AddressOf(lana),
                   FormatIpv4(lana.broadcast), PortsOf(lana), AdapterAddressOf(lana), ProviderOf(lana)});
    }
    context.doc().Set("lanas", std::move(list));
    context.Print(table.Render());
    if (numbered_here)
        context.Print(
            "LANAs 1 and up are numbered by this process, in interface-index order: the numbers\n"
            "are not stable here, and may change as interfaces come and go (korveld keeps them).\n");
    if (table.rows() == 0) return context.Fail("the provider reports no adapters", kExitNetbiosFailure);
    return kExitOk;
}

}  // namespace

const Command kLanasCommand = {
    "lanas",
    "lanas",
    "the adapters: interface, address, broadcast address, ports, adapter address",
    "Lists the adapters (LANAs) as the provider numbers them. PORTS are the name,\n"
    "datagram and session ports. LANA 0 is the loopback adapter: each process is its own\n"
    "node at 127.0.0.N (adapter address 02:00:7F:00:00:NN), chosen when the adapter is\n"
    "reset, on ports 10137/udp, 10138/udp and 10139/tcp. LANAs 1 and up are the IPv4\n"
    "interfaces that are up and have a broadcast address, in interface-index order, on\n"
    "ports 137/udp, 138/udp and 139/tcp (root or CAP_NET_BIND_SERVICE needed to use them).\n"
    "PROVIDER says who carries a LANA's commands: \"service\" for korveld, the host's\n"
    "provider shared by every program (LANAs 1 and up, where its socket answers), or\n"
    "\"embedded\" for this process itself. KORVEL_PROVIDER=embedded|service forces one\n"
    "and KORVEL_PROVIDER_SOCKET names the service's socket (/run/korvel/provider.sock).\n"
    "korveld follows interfaces as they come and go, and an interface keeps its number\n"
    "there, across restarts too ([adapter NAME] lana = N in korvel.conf pins one); a LANA\n"
    "whose interface goes down or loses its address ends what was pending on it\n"
    "(NRC_BRIDGE) and must be reset again once it is back. Numbered by this process\n"
    "(\"embedded\"), the numbers are not stable; the JSON says so (stable_number).\n",
    {},
    RunLanas,
};

}  // namespace cli
