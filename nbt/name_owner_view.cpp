// SPDX-License-Identifier: MIT
#include "name_owner_view.h"

#include "service_client.h"

namespace nbt {

std::optional<std::vector<NameOwnerView>> ServiceNameOwners(UCHAR lana) {
    ServiceClient &client = ServiceClient::Get();
    if (lana == 0 || !client.Serves()) return std::nullopt;
    const auto owners = client.NameOwners(lana);
    if (!owners) return std::nullopt;
    std::vector<NameOwnerView> views;
    for (const service::OwnerEntry &owner : *owners)
        views.push_back({owner.name, owner.pid, owner.uid, owner.program});
    return views;
}

}  // namespace nbt
