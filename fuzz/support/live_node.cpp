// SPDX-License-Identifier: MIT
#include "live_node.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "io_thread.h"
#include "ncb_helpers.h"

namespace nbt::fuzzing {
namespace {

// The post routine finds its TrackedNcb from the NCB at its start.
static_assert(std::is_standard_layout_v<TrackedNcb>);

asio::io_context &Io() {
    return IoThread::Get().context();
}

}  // namespace

void LiveNode::OnNetworkThread(const std::function<void()> &fn) {
    IoThread::Get().RunAndWait(fn);
}

LiveNode::LiveNode(Settings settings, UCHAR sessions, UCHAR ncbs, UCHAR names)
    : provider_(std::move(settings)) {
    TrackedNcb reset;
    Prepare(reset, NCBRESET);
    reset.ncb.ncb_callname[0] = sessions;
    reset.ncb.ncb_callname[1] = ncbs;
    reset.ncb.ncb_callname[2] = names;
    const UCHAR rc = Run(reset);
    provider_.WithNode(0, [this](Node *node) { node_ = node; });
    if (rc != NRC_GOODRET || !node_) {
        std::fprintf(stderr, "LANA 0 reset failed: 0x%02x\n", rc);
        std::abort();
    }
}

void LiveNode::Prepare(TrackedNcb &tracked, UCHAR command) {
    std::memset(&tracked.ncb, 0, sizeof tracked.ncb);
    tracked.ncb.ncb_command = command | ASYNCH;
}

bool LiveNode::Submit(TrackedNcb &tracked) {
    tracked.busy = true;
    tracked.ncb.ncb_command |= ASYNCH;
    tracked.ncb.ncb_post = &LiveNode::Posted;
    tracked.ncb.ncb_event = nullptr;
    if (provider_.Netbios(&tracked.ncb) == NRC_GOODRET) return true;
    tracked.busy = false;
    return false;
}

UCHAR LiveNode::Run(TrackedNcb &tracked) {
    if (!Submit(tracked)) return tracked.ncb.ncb_retcode;
    Wait(tracked);
    return tracked.ncb.ncb_retcode;
}

UCHAR LiveNode::AddName(const std::string &text) {
    TrackedNcb add;
    Prepare(add, NCBADDNAME);
    testing::SetName(add.ncb.ncb_name, text);
    return Run(add);
}

UCHAR LiveNode::DeleteName(const std::string &text) {
    TrackedNcb remove;
    Prepare(remove, NCBDELNAME);
    testing::SetName(remove.ncb.ncb_name, text);
    return Run(remove);
}

void LiveNode::Posted(NCB *ncb) {
    auto &tracked = *reinterpret_cast<TrackedNcb *>(ncb);
    if (tracked.on_done && tracked.on_done(tracked, tracked.context)) return;
    tracked.busy = false;
}

void LiveNode::Poll() {
    Io().poll();
}

void LiveNode::WaitUntil(const std::function<bool()> &done) {
    while (!done()) Io().poll();
}

std::size_t LiveNode::Settle() {
    std::size_t ran = 0;
    while (const std::size_t now = Io().poll()) ran += now;
    return ran;
}

}  // namespace nbt::fuzzing
