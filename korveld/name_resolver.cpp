// SPDX-License-Identifier: MIT
#include "name_resolver.h"

#include <algorithm>
#include <asio.hpp>

#include "io_thread.h"
#include "name_service.h"
#include "node.h"

namespace korveld {

using nbt::service::Resolution;

struct NameResolver::Pending {
    explicit Pending(asio::io_context &io) : timer(io) {}
    nbt::NetbiosName name{};
    Done done;
    std::size_t left = 0;  // LANAs still looking
    std::optional<Resolution> group;
    bool answered = false;
    asio::steady_timer timer;

    void Answer(Resolution resolution) {
        if (answered) return;
        answered = true;
        timer.cancel();
        done(std::move(resolution));
    }
    void OneDone() {
        if (--left == 0) Answer(group.value_or(Resolution{}));
    }
};

// The resolver's reset of a LANA. The NCB comes first, so its post routine
// finds the rest.
struct NameResolver::Opening {
    NCB ncb{};
    std::weak_ptr<NameResolver> resolver;

    static void Posted(NCB *ncb) {
        std::unique_ptr<Opening> self(reinterpret_cast<Opening *>(ncb));
        if (const auto resolver = self->resolver.lock()) resolver->Opened(ncb->ncb_lana_num);
    }
};

NameResolver::NameResolver(nbt::Provider &provider, nbt::ClientId client)
    : provider_(provider), client_(client) {}

std::chrono::milliseconds NameResolver::AnswerTime() const {
    const nbt::Settings &settings = provider_.settings();
    return std::min<std::chrono::milliseconds>(settings.bcast_retry_timeout * settings.bcast_retry_count,
                                               std::chrono::milliseconds(nbt::service::kLongestResolveMs));
}

void NameResolver::Resolve(const std::array<UCHAR, NCBNAMSZ> &name, Done done) {
    auto pending = std::make_shared<Pending>(nbt::IoThread::Get().context());
    std::copy(name.begin(), name.end(), pending->name.begin());
    pending->done = std::move(done);
    std::vector<UCHAR> lanas;
    for (const nbt::Lana &lana : provider_.Lanas())
        if (!lana.loopback) lanas.push_back(lana.number);
    // Never inside this call: the caller may still be queueing its reply.
    pending->left = lanas.size() + 1;
    asio::post(nbt::IoThread::Get().executor(), [pending] { pending->OneDone(); });
    pending->timer.expires_after(AnswerTime());
    pending->timer.async_wait(
        asio::bind_executor(nbt::IoThread::Get().executor(), [pending](asio::error_code error) {
            if (!error) pending->Answer(pending->group.value_or(Resolution{}));
        }));
    for (const UCHAR lana : lanas) LookUpOn(lana, pending);
}

void NameResolver::LookUpOn(UCHAR lana, const std::shared_ptr<Pending> &pending) {
    bool asked = false;
    provider_.WithNode(lana, [&](nbt::Node *node) {
        if (!node || !node->name_service()) return;
        asked = true;
        node->name_service()->Lookup(pending->name, [pending](std::optional<nbt::HeldNames::Resolved> found) {
            if (found && !found->group) {
                Resolution unique;
                unique.addresses.push_back(found->address.to_uint());
                for (const auto &other : found->others) unique.addresses.push_back(other.to_uint());
                return pending->Answer(std::move(unique));
            }
            if (found && !pending->group) pending->group = Resolution{0, true, {found->address.to_uint()}};
            pending->OneDone();
        });
    });
    if (asked) return;
    auto &waiting = opening_[lana];
    waiting.push_back(pending);
    if (waiting.size() > 1) return;  // its reset is under way
    auto *opening = new Opening;     // freed by its post routine
    opening->resolver = weak_from_this();
    opening->ncb.ncb_command = NCBRESET | ASYNCH;
    opening->ncb.ncb_lana_num = lana;
    opening->ncb.ncb_post = &Opening::Posted;
    if (provider_.Netbios(&opening->ncb, client_) == NRC_GOODRET) return;
    delete opening;  // refused at once: no post routine comes
    Opened(lana);
}

void NameResolver::Opened(UCHAR lana) {
    const auto waiting = std::move(opening_[lana]);
    opening_.erase(lana);
    for (const auto &pending : waiting) {
        bool open = false;
        provider_.WithNode(lana, [&](nbt::Node *node) { open = node && node->name_service(); });
        if (open) {
            LookUpOn(lana, pending);
        } else {
            pending->OneDone();  // this LANA cannot ask
        }
    }
}

void NameResolver::Stop() {
    provider_.DropClient(client_);
}

}  // namespace korveld
