// scan CIDR: node status of every address in a range, many at once.
#include <algorithm>
#include <cstring>
#include <map>

#include "adapter_status.h"
#include "command.h"
#include "lana_info.h"
#include "local_node.h"
#include "ncb_wait.h"
#include "progress_bar.h"
#include "text_format.h"

namespace cli {
namespace {

constexpr std::uint64_t kMaxRange = 65536;
constexpr long kDefaultRate = 1000;  // requests a second
// Node status blocks in flight at once: the reset allows 254 pending, and
// one more is a cancel.
constexpr std::size_t kInFlight = 253;
// A node status reply names at most about 24 names in 576 bytes; room for more.
constexpr std::size_t kReplyBuffer = sizeof(ADAPTER_STATUS) + 64 * sizeof(NAME_BUFFER);

struct Host {
    std::uint32_t address = 0;
    StatusReport report;
};

// The first unique name, and the first group name (the workgroup, <00>, when
// there is one).
std::pair<std::string, std::string> Summary(const StatusReport &report) {
    const NAME_BUFFER *unique = nullptr;
    const NAME_BUFFER *group = nullptr;
    for (const NAME_BUFFER &entry : report.names) {
        if (!(entry.name_flags & GROUP_NAME)) {
            if (!unique) unique = &entry;
        } else if (!group || (group->name[NCBNAMSZ - 1] != 0x00 && entry.name[NCBNAMSZ - 1] == 0x00)) {
            group = &entry;
        }
    }
    return {unique ? FormatName(unique->name) : "-", group ? FormatName(group->name) : "-"};
}

std::optional<AdapterAddress> OwnAdapterAddress(UCHAR lana) {
    std::vector<UCHAR> buffer(kReplyBuffer);
    NCB ncb{};
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_lana_num = lana;
    ncb.ncb_callname[0] = '*';
    ncb.ncb_buffer = buffer.data();
    ncb.ncb_length = static_cast<WORD>(buffer.size());
    const UCHAR rc = Netbios(&ncb);
    if (rc != NRC_GOODRET && rc != NRC_INCOMP) return std::nullopt;
    AdapterAddress address;
    std::memcpy(address.data(), buffer.data(), address.size());
    return address;
}

int RunScan(Context &context, const ParsedArgs &args) {
    if (args.operands.size() != 1) return context.Usage("scan takes one CIDR range");
    auto range = ParseCidr(args.operands[0]);
    if (!range)
        return context.Usage("'" + args.operands[0] + "' is not an address range such as 198.18.137.0/24");
    if (range->size() > kMaxRange) return context.Usage("scan at most a /16 at once");
    long rate = kDefaultRate;
    if (auto text = args.Value("rate")) {
        auto value = ParseCount(*text, 1, 100000);
        if (!value) return context.Usage("--rate takes requests a second, 1 to 100000");
        rate = *value;
    }

    LocalNode node(context.lana());
    if (UCHAR rc = node.Reset(0, 254, 0); rc != NRC_GOODRET) return context.Fail("reset", rc);
    const auto own_adapter = OwnAdapterAddress(context.lana());
    const auto lana = FindLana(context.lana());
    const std::uint32_t own_address = lana && !lana->loopback ? lana->address : 0;

    struct Slot {
        NCB *ncb;
        std::vector<UCHAR> *buffer;
        std::uint32_t address = 0;
        Clock::time_point asked_at{};  // zero while the slot is free
        bool abandoned = false;        // past --timeout; its block is still in flight
    };
    std::vector<Slot> slots;
    std::vector<std::size_t> free_slots;
    std::map<const NCB *, std::size_t> slot_of;
    for (std::size_t i = 0; i < std::min<std::uint64_t>(kInFlight, range->size()); ++i) {
        slots.push_back({&node.NewBlock(NCBASTAT), &node.NewBuffer(kReplyBuffer)});
        slot_of[slots.back().ncb] = i;
        free_slots.push_back(i);
    }
    const auto per_address = context.timeout();

    const auto start = Clock::now();
    const auto interval = std::chrono::nanoseconds(1000000000LL / rate);
    std::uint64_t next = 0, done = 0, asked = 0;
    std::size_t waiting = 0;  // in flight and not abandoned
    std::vector<Host> hosts;
    ProgressBar progress;
    bool interrupted = false;
    for (;;) {
        // Ask as many as the rate and the free blocks allow.
        while (next < range->size() && !free_slots.empty() && Clock::now() >= start + interval * next) {
            const std::uint32_t address = range->first + static_cast<std::uint32_t>(next++);
            if (address == own_address) {
                ++done;
                continue;
            }
            Slot &slot = slots[free_slots.back()];
            *slot.ncb = NCB{};
            slot.ncb->ncb_command = NCBASTAT;
            slot.ncb->ncb_lana_num = context.lana();
            const NameField callname = AddressCallname(address);
            std::memcpy(slot.ncb->ncb_callname, callname.data(), NCBNAMSZ);
            slot.ncb->ncb_buffer = slot.buffer->data();
            slot.ncb->ncb_length = static_cast<WORD>(slot.buffer->size());
            slot.address = address;
            slot.asked_at = Clock::now();
            slot.abandoned = false;
            if (Submit(*slot.ncb) != NRC_GOODRET) {
                ++done;  // refused at once: nothing to wait for
                continue;
            }
            free_slots.pop_back();
            ++asked;
            ++waiting;
        }
        progress.Show(done, range->size(),
                      std::to_string(asked) + " asked, " + std::to_string(hosts.size()) + " answered");
        if (next == range->size() && waiting == 0) break;

        // Wake for the next request, or for the first address to run out of time.
        Deadline wake;
        if (next < range->size() && !free_slots.empty()) wake = start + interval * next;
        if (per_address)
            for (const Slot &slot : slots)
                if (!slot.abandoned && slot.asked_at != Clock::time_point{}) {
                    const auto due = slot.asked_at + *per_address;
                    if (!wake || due < *wake) wake = due;
                }
        NCB *completed = WaitForAny(wake);
        if (!completed) {
            if (Interrupted()) {
                interrupted = true;
                break;
            }
            if (!per_address) continue;
            // Out of time: cancel the block where the provider can, else
            // leave it to finish on its own and stop counting on it.
            for (Slot &slot : slots) {
                const bool in_flight = slot.asked_at != Clock::time_point{};
                if (!in_flight || slot.abandoned || Clock::now() < slot.asked_at + *per_address) continue;
                NCB cancel{};
                cancel.ncb_command = NCBCANCEL;
                cancel.ncb_lana_num = context.lana();
                cancel.ncb_buffer = reinterpret_cast<UCHAR *>(slot.ncb);
                if (Netbios(&cancel) == NRC_GOODRET) continue;  // it completes NRC_CMDCAN
                slot.abandoned = true;
                --waiting;
                ++done;
            }
            continue;
        }
        auto it = slot_of.find(completed);
        if (it == slot_of.end()) continue;
        Slot &slot = slots[it->second];
        const UCHAR rc = completed->ncb_retcode;
        if (rc == NRC_GOODRET || rc == NRC_INCOMP) {
            StatusReport report = ReadStatus(*slot.buffer, completed->ncb_length);
            const bool ourselves = own_adapter && std::equal(own_adapter->begin(), own_adapter->end(),
                                                             report.status.adapter_address);
            if (!ourselves) hosts.push_back({slot.address, std::move(report)});
        }
        if (!slot.abandoned) {
            --waiting;
            ++done;
        }
        slot.abandoned = false;
        slot.asked_at = {};
        free_slots.push_back(it->second);
    }
    progress.Clear();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::sort(hosts.begin(), hosts.end(), [](const Host &a, const Host &b) { return a.address < b.address; });
    Json list = Json::Array();
    Table table({"ADDRESS", "NAME", "GROUP", "ADAPTER ADDRESS"});
    for (const Host &host : hosts) {
        const auto [unique, group] = Summary(host.report);
        Json entry = Json::Object();
        entry.Set("address", FormatIpv4(host.address));
        entry.Set("name", unique);
        entry.Set("group", group);
        entry.Set("adapter_address", FormatAdapterAddress(host.report.status.adapter_address));
        entry.Set("status", StatusJson(host.report));
        list.Push(std::move(entry));
        table.Add({FormatIpv4(host.address), unique, group,
                   FormatAdapterAddress(host.report.status.adapter_address)});
    }
    context.doc().Set("range", FormatIpv4(range->first) + "-" + FormatIpv4(range->last));
    context.doc().Set("asked", asked);
    context.doc().Set("seconds", seconds);
    context.doc().Set("hosts", std::move(list));
    context.Print(table.Render());
    if (interrupted) return kExitInterrupted;
    // Whatever is still pending ends with the node's final reset.
    if (hosts.empty()) return context.Fail("no host answered in " + args.operands[0], kExitNothingAnswered);
    return kExitOk;
}

}  // namespace

const Command kScanCommand = {
    "scan",
    "scan CIDR [--rate N]",
    "node status of every address in a range; one line per host that answers",
    "Asks every address in CIDR (such as 198.18.137.0/24; the network and broadcast\n"
    "addresses are left out) for its node status, many at once, and prints one line per\n"
    "host that answers: its address, its first unique name, its group (the workgroup)\n"
    "and its adapter address. A progress bar shows on a terminal. Each address is asked\n"
    "with the provider's retries (3 x 750 ms).\n"
    "\n"
    "  --rate N           requests a second (default 1000)\n"
    "\n"
    "--timeout SECONDS: how long to wait for each address (default: until the provider's\n"
    "retries end).\n"
    "Exit status 3: no host answered.\n",
    {{"rate", true}},
    RunScan,
};

}  // namespace cli
