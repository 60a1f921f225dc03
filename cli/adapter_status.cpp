// SPDX-License-Identifier: MIT
#include "adapter_status.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "printable.h"
#include "text_format.h"

namespace cli {
namespace {

struct Counter {
    const char *key;
    const char *label;
    std::uint32_t value;
};

std::vector<Counter> Counters(const ADAPTER_STATUS &a) {
    return {
        {"duration", "minutes since reset", a.duration},
        {"frmr_recv", "frames received in error", a.frmr_recv},
        {"frmr_xmit", "frames sent in error", a.frmr_xmit},
        {"iframe_recv_err", "received I-frames in error", a.iframe_recv_err},
        {"xmit_aborts", "transmit aborts", a.xmit_aborts},
        {"xmit_success", "packets sent", a.xmit_success},
        {"recv_success", "packets received", a.recv_success},
        {"iframe_xmit_err", "sent I-frames in error", a.iframe_xmit_err},
        {"recv_buff_unavail", "receive buffers unavailable", a.recv_buff_unavail},
        {"t1_timeouts", "T1 timeouts", a.t1_timeouts},
        {"ti_timeouts", "Ti timeouts", a.ti_timeouts},
        {"free_ncbs", "free NCBs", a.free_ncbs},
        {"max_cfg_ncbs", "configured NCBs", a.max_cfg_ncbs},
        {"max_ncbs", "most NCBs", a.max_ncbs},
        {"xmit_buf_unavail", "transmit buffers unavailable", a.xmit_buf_unavail},
        {"max_dgram_size", "largest datagram", a.max_dgram_size},
        {"pending_sess", "sessions", a.pending_sess},
        {"max_cfg_sess", "configured sessions", a.max_cfg_sess},
        {"max_sess", "most sessions", a.max_sess},
        {"max_sess_pkt_size", "largest session packet", a.max_sess_pkt_size},
    };
}

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

}  // namespace

NameField AddressCallname(std::uint32_t address) {
    NameField field;
    field.fill(' ');
    const std::string text = FormatIpv4(address);
    std::copy(text.begin(), text.end(), field.begin());
    return field;
}

NameField AdapterCallname(const AdapterAddress &address) {
    NameField field{};
    std::copy(address.begin(), address.end(), field.begin() + 10);
    return field;
}

std::optional<StatusTarget> ParseStatusTarget(const std::string &text, std::string *error) {
    if (text == "*") return StatusTarget{*ParseName("*", error), "local"};
    if (auto address = ParseIpv4(text)) return StatusTarget{AddressCallname(*address), "address"};
    if (auto adapter = ParseAdapterAddress(text))
        return StatusTarget{AdapterCallname(*adapter), "adapter_address"};
    auto name = ParseName(text, error);
    if (!name) return std::nullopt;
    return StatusTarget{*name, "name"};
}

StatusReport ReadStatus(const std::vector<UCHAR> &buffer, WORD length) {
    StatusReport report;
    if (length < sizeof(ADAPTER_STATUS) || buffer.size() < length) return report;
    std::memcpy(&report.status, buffer.data(), sizeof report.status);
    const std::size_t room = (length - sizeof(ADAPTER_STATUS)) / sizeof(NAME_BUFFER);
    const std::size_t count = std::min<std::size_t>(report.status.name_count, room);
    report.names.resize(count);
    if (count > 0)
        std::memcpy(report.names.data(), buffer.data() + sizeof(ADAPTER_STATUS), count * sizeof(NAME_BUFFER));
    return report;
}

Json StatusJson(const StatusReport &report) {
    const ADAPTER_STATUS &a = report.status;
    Json json = Json::Object();
    json.Set("adapter_address", FormatAdapterAddress(a.adapter_address));
    json.Set("version", std::to_string(a.rev_major) + "." + std::to_string(a.rev_minor));
    json.Set("adapter_type", static_cast<unsigned>(a.adapter_type));
    Json names = Json::Array();
    for (std::size_t i = 0; i < report.names.size(); ++i) {
        const NAME_BUFFER &entry = report.names[i];
        Json name = Json::Object();
        name.Set("name", FormatName(entry.name));
        name.Set("suffix", NameSuffix(entry.name));
        name.Set("number", static_cast<unsigned>(entry.name_num));
        name.Set("type", NameType(entry.name_flags));
        name.Set("state", NameState(entry.name_flags));
        name.Set("flags", static_cast<unsigned>(entry.name_flags));
        if (i < report.owners.size() && report.owners[i].pid != 0) {
            Json owner = Json::Object();
            owner.Set("pid", static_cast<std::int64_t>(report.owners[i].pid));
            owner.Set("uid", static_cast<std::int64_t>(report.owners[i].uid));
            owner.Set("program", report.owners[i].program);
            name.Set("owner", std::move(owner));
        }
        names.Push(std::move(name));
    }
    json.Set("names", std::move(names));
    Json counters = Json::Object();
    for (const Counter &counter : Counters(a))
        counters.Set(counter.key, static_cast<std::int64_t>(counter.value));
    json.Set("counters", std::move(counters));
    return json;
}

std::string StatusText(const StatusReport &report) {
    const ADAPTER_STATUS &a = report.status;
    std::string out = "Adapter address  " + FormatAdapterAddress(a.adapter_address) + "\n";
    out += "Version          " + std::to_string(a.rev_major) + "." + std::to_string(a.rev_minor) +
           ", adapter type " + Hex2(a.adapter_type) + "\n\n";
    const bool owned = !report.owners.empty();
    std::vector<std::string> headings{"NAME", "NUMBER", "TYPE", "STATE", "FLAGS"};
    if (owned) headings.push_back("OWNER");
    Table names(headings);
    for (std::size_t i = 0; i < report.names.size(); ++i) {
        const NAME_BUFFER &entry = report.names[i];
        std::vector<std::string> row{FormatName(entry.name), std::to_string(entry.name_num),
                                     NameType(entry.name_flags), NameState(entry.name_flags),
                                     Hex2(entry.name_flags)};
        if (owned) {
            const NameOwnerText *owner = i < report.owners.size() ? &report.owners[i] : nullptr;
            row.push_back(owner && owner->pid != 0
                              ? "pid " + std::to_string(owner->pid) + " " + nbt::Printable(owner->program)
                              : "-");
        }
        names.Add(row);
    }
    out += names.rows() == 0 ? "No names\n" : names.Render();
    out += "\n";
    Table counters({"COUNTER", "VALUE"});
    for (const Counter &counter : Counters(a)) counters.Add({counter.label, std::to_string(counter.value)});
    return out + counters.Render();
}

}  // namespace cli
