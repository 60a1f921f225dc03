// SPDX-License-Identifier: MIT
#include "name_cache_view.h"

#include <algorithm>
#include <asio.hpp>
#include <future>
#include <memory>
#include <optional>

#include "io_thread.h"
#include "name_service.h"
#include "node.h"
#include "provider.h"
#include "service_client.h"
#include "service_reply.h"

namespace nbt {
namespace {

// Outlives the call that starts it: a lookup may answer after the wait.
// Touched only on the network thread, holding the state lock.
struct PendingView {
    Provider *provider = nullptr;
    UCHAR lana = 0;
    std::size_t left = 0;
    NameCacheView view;
    std::function<void(NameCacheView)> done;
    std::optional<asio::steady_timer> timer;
};

void ListCache(Node *node, NameCacheView &view) {
    const auto now = NameCache::Clock::now();
    for (const auto &entry : node->name_service()->CachedNames()) {
        CachedName out;
        out.name = entry.name;
        out.found = entry.found;
        out.ipv4 = entry.address.to_uint();
        out.group = entry.group;
        out.from_server = entry.source == NameCache::Source::kServer;
        out.left = std::chrono::duration_cast<std::chrono::milliseconds>(entry.expires - now);
        view.entries.push_back(out);
    }
}

void Finish(const std::shared_ptr<PendingView> &pending) {
    if (!pending->done) return;  // given already
    if (pending->timer) pending->timer->cancel();
    pending->provider->WithNode(pending->lana, [&](Node *node) {
        if (node && node->name_service()) ListCache(node, pending->view);
    });
    const auto done = std::move(pending->done);
    pending->done = nullptr;
    done(std::move(pending->view));
}

service::CachedNameEntry EntryOf(const CachedName &name) {
    const auto left = std::clamp<std::int64_t>(name.left.count(), 0, 0xFFFFFFFF);
    return {name.name, name.found, name.group, name.from_server, name.ipv4, static_cast<std::uint32_t>(left)};
}

CachedName NameOf(const service::CachedNameEntry &entry) {
    return {entry.name,  entry.found,       entry.address,
            entry.group, entry.from_server, std::chrono::milliseconds(entry.left_ms)};
}

}  // namespace

service::NameCacheReport ReportOf(const NameCacheView &view) {
    service::NameCacheReport report;
    report.reset = view.reset;
    report.node_type = view.node_type;
    for (const auto &name : view.asked) report.asked.push_back(EntryOf(name));
    for (const auto &name : view.entries) report.entries.push_back(EntryOf(name));
    return report;
}

NameCacheView ViewOf(const service::NameCacheReport &report) {
    NameCacheView view;
    view.reset = report.reset;
    view.node_type = report.node_type;
    for (const auto &entry : report.asked) view.asked.push_back(NameOf(entry));
    for (const auto &entry : report.entries) view.entries.push_back(NameOf(entry));
    return view;
}

void ResolveAndViewNames(Provider &provider, UCHAR lana, const NamesToView &names,
                         std::chrono::milliseconds wait, std::function<void(NameCacheView)> done) {
    auto pending = std::make_shared<PendingView>();
    pending->provider = &provider;
    pending->lana = lana;
    pending->done = std::move(done);
    pending->left = names.size();
    for (const auto &name : names) pending->view.asked.push_back({name});
    provider.WithNode(lana, [&](Node *node) {
        if (!node || !node->name_service()) {
            auto given = std::move(pending->done);
            return given(std::move(pending->view));  // not reset: nothing to show
        }
        pending->view.reset = true;
        pending->view.node_type = "BPMH"[static_cast<int>(node->settings().NodeTypeInUse())];
        auto &io = IoThread::Get();
        pending->timer.emplace(io.context());
        pending->timer->expires_after(wait);
        pending->timer->async_wait(asio::bind_executor(io.executor(), [pending](asio::error_code error) {
            if (!error) Finish(pending);
        }));
        for (std::size_t i = 0; i < names.size(); ++i) {
            node->name_service()->Lookup(names[i], [pending, i](std::optional<HeldNames::Resolved> found) {
                if (found && pending->done) {
                    pending->view.asked[i].found = true;
                    pending->view.asked[i].ipv4 = found->address.to_uint();
                    pending->view.asked[i].group = found->group;
                }
                if (--pending->left == 0) Finish(pending);
            });
        }
        if (names.empty()) Finish(pending);
    });
}

NameCacheView ResolveAndViewNames(UCHAR lana, const NamesToView &names, std::chrono::milliseconds wait) {
    if (lana != 0 && ServiceClient::Get().Serves()) return ServiceClient::Get().ViewNames(lana, names, wait);
    std::promise<NameCacheView> promise;
    auto view = promise.get_future();
    ResolveAndViewNames(Provider::Default(), lana, names, wait,
                        [&promise](NameCacheView done) { promise.set_value(std::move(done)); });
    return view.get();
}

}  // namespace nbt
