// SPDX-License-Identifier: MIT
// Node status of every address in a range, many at once, for `scan`: asks
// at a steady rate with a fixed set of blocks, waits for the next
// completion or deadline, gives up on addresses past their time, and takes
// what answers. Ctrl-C ends it early; what is still pending ends with the
// node's final reset.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "adapter_status.h"
#include "address_range.h"
#include "local_node.h"
#include "ncb_wait.h"
#include "progress_bar.h"

namespace cli {

struct ScannedHost {
    std::uint32_t address = 0;
    StatusReport report;
};

struct ScanPlan {
    AddressRange range;
    long rate = 1000;  // requests a second
    // How long each address is waited for; unset: the provider's retries.
    std::optional<std::chrono::milliseconds> per_address;
    // This node itself: its address is not asked, and an answer with its
    // adapter address is not a host.
    std::uint32_t own_address = 0;
    std::optional<AdapterAddress> own_adapter;
};

struct ScanOutcome {
    std::vector<ScannedHost> hosts;  // by address
    std::uint64_t asked = 0;
    double seconds = 0;
    bool interrupted = false;
};

class Scanner {
public:
    // `node` is reset, with room for kInFlight + 1 pending blocks.
    Scanner(LocalNode &node, const ScanPlan &plan);
    ScanOutcome Run();

    // Node status blocks in flight at once: the reset allows 254 pending,
    // and one more is a cancel.
    static constexpr std::size_t kInFlight = 253;

private:
    struct Slot {
        NCB *ncb;
        std::vector<UCHAR> *buffer;
        std::uint32_t address = 0;
        Clock::time_point asked_at{};  // zero while the slot is free
        bool abandoned = false;        // past its time; its block is still in flight
        bool busy() const { return asked_at != Clock::time_point{}; }
    };

    void Ask();
    bool AskNext();
    Deadline NextWake() const;
    void Expire();
    void Take(NCB *completed);
    void Free(std::size_t slot);

    LocalNode &node_;
    ScanPlan plan_;
    std::vector<Slot> slots_;
    std::vector<std::size_t> free_;
    std::map<const NCB *, std::size_t> slot_of_;
    Clock::time_point start_;
    std::chrono::nanoseconds interval_;
    std::uint64_t next_ = 0, done_ = 0;
    std::size_t waiting_ = 0;  // in flight and not abandoned
    ScanOutcome outcome_;
    ProgressBar progress_;
};

}  // namespace cli
