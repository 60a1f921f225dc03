// SPDX-License-Identifier: MIT
#include "scanner.h"

#include <algorithm>
#include <cstring>

namespace cli {
namespace {

// A node status reply names at most about 24 names in 576 bytes; room for more.
constexpr std::size_t kReplyBuffer = sizeof(ADAPTER_STATUS) + 64 * sizeof(NAME_BUFFER);

}  // namespace

Scanner::Scanner(LocalNode &node, const ScanPlan &plan)
    : node_(node), plan_(plan), interval_(std::chrono::nanoseconds(1000000000LL / plan.rate)) {
    for (std::size_t i = 0; i < std::min<std::uint64_t>(kInFlight, plan.range.size()); ++i) {
        slots_.push_back({&node_.NewBlock(NCBASTAT), &node_.NewBuffer(kReplyBuffer)});
        slot_of_[slots_.back().ncb] = i;
        free_.push_back(i);
    }
}

ScanOutcome Scanner::Run() {
    start_ = Clock::now();
    for (;;) {
        Ask();
        progress_.Show(done_, plan_.range.size(),
                       std::to_string(outcome_.asked) + " asked, " + std::to_string(outcome_.hosts.size()) +
                           " answered");
        if (next_ == plan_.range.size() && waiting_ == 0) break;
        if (NCB *completed = WaitForAny(NextWake())) {
            Take(completed);
        } else if (Interrupted()) {
            outcome_.interrupted = true;
            break;
        } else {
            Expire();
        }
    }
    progress_.Clear();
    outcome_.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    std::sort(outcome_.hosts.begin(), outcome_.hosts.end(),
              [](const ScannedHost &a, const ScannedHost &b) { return a.address < b.address; });
    return outcome_;
}

// As many as the rate and the free blocks allow.
void Scanner::Ask() {
    while (next_ < plan_.range.size() && !free_.empty() && Clock::now() >= start_ + interval_ * next_)
        if (!AskNext()) ++done_;  // skipped or refused at once: nothing to wait for
}

bool Scanner::AskNext() {
    const std::uint32_t address = plan_.range.first + static_cast<std::uint32_t>(next_++);
    if (address == plan_.own_address) return false;
    Slot &slot = slots_[free_.back()];
    *slot.ncb = NCB{};
    slot.ncb->ncb_command = NCBASTAT;
    slot.ncb->ncb_lana_num = node_.lana();
    const NameField callname = AddressCallname(address);
    std::memcpy(slot.ncb->ncb_callname, callname.data(), NCBNAMSZ);
    slot.ncb->ncb_buffer = slot.buffer->data();
    slot.ncb->ncb_length = static_cast<WORD>(slot.buffer->size());
    slot.address = address;
    slot.asked_at = Clock::now();
    slot.abandoned = false;
    if (Submit(*slot.ncb) != NRC_GOODRET) {
        slot.asked_at = {};
        return false;
    }
    free_.pop_back();
    ++outcome_.asked;
    ++waiting_;
    return true;
}

// The next request's time, or the first address to run out of time.
Deadline Scanner::NextWake() const {
    Deadline wake;
    if (next_ < plan_.range.size() && !free_.empty()) wake = start_ + interval_ * next_;
    if (!plan_.per_address) return wake;
    for (const Slot &slot : slots_)
        if (slot.busy() && !slot.abandoned) {
            const auto due = slot.asked_at + *plan_.per_address;
            if (!wake || due < *wake) wake = due;
        }
    return wake;
}

// Out of time: the block is cancelled where the provider can (it then
// completes NRC_CMDCAN), else left to finish on its own, no longer counted on.
void Scanner::Expire() {
    if (!plan_.per_address) return;
    for (Slot &slot : slots_) {
        if (!slot.busy() || slot.abandoned || Clock::now() < slot.asked_at + *plan_.per_address) continue;
        NCB cancel{};
        cancel.ncb_command = NCBCANCEL;
        cancel.ncb_lana_num = node_.lana();
        cancel.ncb_buffer = reinterpret_cast<UCHAR *>(slot.ncb);
        if (Netbios(&cancel) == NRC_GOODRET) continue;
        slot.abandoned = true;
        --waiting_;
        ++done_;
    }
}

void Scanner::Take(NCB *completed) {
    const auto it = slot_of_.find(completed);
    if (it == slot_of_.end()) return;
    const Slot &slot = slots_[it->second];
    const UCHAR rc = completed->ncb_retcode;
    if (rc == NRC_GOODRET || rc == NRC_INCOMP) {
        StatusReport report = ReadStatus(*slot.buffer, completed->ncb_length);
        const bool ourselves =
            plan_.own_adapter &&
            std::equal(plan_.own_adapter->begin(), plan_.own_adapter->end(), report.status.adapter_address);
        if (!ourselves) outcome_.hosts.push_back({slot.address, std::move(report)});
    }
    Free(it->second);
}

void Scanner::Free(std::size_t index) {
    Slot &slot = slots_[index];
    if (!slot.abandoned) {
        --waiting_;
        ++done_;
    }
    slot.abandoned = false;
    slot.asked_at = {};
    free_.push_back(index);
}

}  // namespace cli
