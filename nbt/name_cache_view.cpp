// SPDX-License-Identifier: MIT
#include "name_cache_view.h"

#include <condition_variable>
#include <memory>
#include <mutex>

#include "name_service.h"
#include "node.h"
#include "provider.h"

namespace nbt {

NameCacheView ResolveAndViewNames(UCHAR lana, const std::vector<std::array<std::uint8_t, NCBNAMSZ>> &names,
                                  std::chrono::milliseconds wait) {
    // Outlives this call: a lookup may answer after the wait is over.
    struct Pending {
        std::mutex mutex;
        std::condition_variable done;
        std::size_t left = 0;
        std::vector<CachedName> asked;
    };
    auto pending = std::make_shared<Pending>();
    pending->left = names.size();
    for (const auto &name : names) pending->asked.push_back({name});
    NameCacheView view;
    Provider &provider = Provider::Default();
    provider.WithNode(lana, [&](Node *node) {
        if (!node || !node->name_service()) return;
        view.reset = true;
        view.node_type = "BPMH"[static_cast<int>(node->settings().NodeTypeInUse())];
        for (std::size_t i = 0; i < names.size(); ++i) {
            node->name_service()->Lookup(names[i], [pending, i](std::optional<HeldNames::Resolved> found) {
                std::lock_guard lock(pending->mutex);
                if (found) {
                    pending->asked[i].found = true;
                    pending->asked[i].ipv4 = found->address.to_uint();
                    pending->asked[i].group = found->group;
                }
                if (--pending->left == 0) pending->done.notify_all();
            });
        }
    });
    if (!view.reset) return view;
    {
        std::unique_lock lock(pending->mutex);
        pending->done.wait_for(lock, wait, [&] { return pending->left == 0; });
        view.asked = pending->asked;
    }
    provider.WithNode(lana, [&](Node *node) {
        if (!node || !node->name_service()) return;
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
    });
    return view;
}

}  // namespace nbt
