// SPDX-License-Identifier: MIT
#include "local_node.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace cli {
namespace {

constexpr std::chrono::milliseconds kReleaseRepeats{550};

}  // namespace

UCHAR LocalNode::Reset(UCHAR sessions, UCHAR pending_ncbs, UCHAR names, bool name_number_1) {
    NCB ncb{};
    ncb.ncb_command = NCBRESET;
    ncb.ncb_lana_num = lana_;
    ncb.ncb_callname[0] = sessions;
    ncb.ncb_callname[1] = pending_ncbs;
    ncb.ncb_callname[2] = names;
    ncb.ncb_callname[3] = name_number_1 ? 1 : 0;
    const UCHAR rc = Netbios(&ncb);
    reset_ = rc == NRC_GOODRET;
    return rc;
}

UCHAR LocalNode::AddName(const NameField &name, bool group, UCHAR *number) {
    NCB ncb{};
    ncb.ncb_command = group ? NCBADDGRNAME : NCBADDNAME;
    ncb.ncb_lana_num = lana_;
    std::memcpy(ncb.ncb_name, name.data(), NCBNAMSZ);
    const UCHAR rc = Netbios(&ncb);
    if (rc == NRC_GOODRET) names_.push_back(name);
    if (number) *number = ncb.ncb_num;
    return rc;
}

UCHAR LocalNode::DeleteName(const NameField &name) {
    NCB ncb{};
    ncb.ncb_command = NCBDELNAME;
    ncb.ncb_lana_num = lana_;
    std::memcpy(ncb.ncb_name, name.data(), NCBNAMSZ);
    const UCHAR rc = Netbios(&ncb);
    // Deleted, or going when its sessions end: ours to forget either way.
    if (rc == NRC_GOODRET || rc == NRC_ACTSES || rc == NRC_NOWILD) std::erase(names_, name);
    return rc;
}

UCHAR LocalNode::Hangup(UCHAR lsn) {
    NCB ncb{};
    ncb.ncb_command = NCBHANGUP;
    ncb.ncb_lana_num = lana_;
    ncb.ncb_lsn = lsn;
    std::erase(sessions_, lsn);
    return Netbios(&ncb);
}

NCB &LocalNode::NewBlock(UCHAR command) {
    NCB &ncb = blocks_.emplace_back();
    ncb.ncb_command = command;
    ncb.ncb_lana_num = lana_;
    return ncb;
}

std::vector<UCHAR> &LocalNode::NewBuffer(std::size_t size) {
    return buffers_.emplace_back(size);
}

void LocalNode::Cleanup() {
    if (!reset_) return;
    while (!sessions_.empty()) Hangup(sessions_.back());
    const bool releasing = !names_.empty();
    while (!names_.empty()) {
        const NameField name = names_.back();
        DeleteName(name);
        std::erase(names_, name);
    }
    // The provider broadcasts each release three times, 250 ms apart; the
    // reset below would cut that short.
    if (releasing) std::this_thread::sleep_for(kReleaseRepeats);
    NCB ncb{};
    ncb.ncb_command = NCBRESET;
    ncb.ncb_lana_num = lana_;
    ncb.ncb_lsn = 1;  // free only
    Netbios(&ncb);
    reset_ = false;
}

}  // namespace cli
