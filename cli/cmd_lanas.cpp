// lanas: the adapters, as the provider numbers them.
#include <algorithm>

#include "command.h"
#include "lana_info.h"
#include "text_format.h"

namespace cli {
namespace {

int RunLanas(Context &context, const ParsedArgs &args) {
    if (!args.operands.empty()) return context.Usage("lanas takes no operands");
    const auto enumerated = EnumerateLanas();
    Json list = Json::Array();
    Table table({"LANA", "INTERFACE", "ADDRESS", "BROADCAST", "PORTS", "ADAPTER ADDRESS"});
    for (const LanaInfo &lana : ReadLanas()) {
        // The provider's own list decides; an interface that changed in
        // between is left out rather than shown under a wrong number.
        if (std::find(enumerated.begin(), enumerated.end(), lana.number) == enumerated.end()) continue;
        const std::string address = lana.loopback ? "127.0.0.N" : FormatIpv4(lana.address);
        const std::string adapter =
            lana.loopback ? "02:00:7F:00:00:NN" : FormatAdapterAddress(lana.adapter_address.data());
        Json entry = Json::Object();
        entry.Set("lana", static_cast<unsigned>(lana.number));
        entry.Set("interface", lana.interface_name);
        entry.Set("address", address);
        entry.Set("broadcast", FormatIpv4(lana.broadcast));
        entry.Set("name_port", static_cast<unsigned>(lana.name_port));
        entry.Set("session_port", static_cast<unsigned>(lana.session_port));
        entry.Set("adapter_address", adapter);
        // LANA 0 gives each process its own node: address and adapter
        // address are chosen when it is reset.
        entry.Set("per_process", lana.loopback);
        list.Push(std::move(entry));
        table.Add({std::to_string(lana.number), lana.interface_name, address, FormatIpv4(lana.broadcast),
                   std::to_string(lana.name_port) + "/" + std::to_string(lana.session_port), adapter});
    }
    context.doc().Set("lanas", std::move(list));
    context.Print(table.Render());
    if (table.rows() == 0) return context.Fail("the provider reports no adapters", kExitNetbiosFailure);
    return kExitOk;
}

}  // namespace

const Command kLanasCommand = {
    "lanas",
    "lanas",
    "the adapters: interface, address, broadcast address, ports, adapter address",
    "Lists the adapters (LANAs) the provider offers. LANA 0 is the loopback adapter: each\n"
    "process is its own node at 127.0.0.N (adapter address 02:00:7F:00:00:NN), chosen\n"
    "when the adapter is reset, on ports 10137/udp and 10139/tcp. LANAs 1 and up are the\n"
    "IPv4 interfaces that are up and have a broadcast address, on ports 137/udp and\n"
    "139/tcp (root or CAP_NET_BIND_SERVICE needed to use them).\n",
    {},
    RunLanas,
};

}  // namespace cli
