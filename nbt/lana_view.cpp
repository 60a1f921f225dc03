// SPDX-License-Identifier: MIT
#include "lana_view.h"

#include "provider.h"
#include "service_client.h"

namespace nbt {

std::vector<LanaView> DefaultProviderLanas() {
    Provider &provider = Provider::Default();
    const Settings &settings = provider.settings();
    std::vector<LanaView> views;
    ServiceClient &client = ServiceClient::Get();
    const bool served = client.Serves();
    for (const Lana &lana : provider.Lanas()) {
        if (served && !lana.loopback) continue;
        LanaView view;
        view.number = lana.number;
        view.loopback = lana.loopback;
        view.interface_name = lana.interface_name;
        view.address = lana.loopback ? 0 : lana.address.to_uint();
        view.broadcast = lana.broadcast.to_uint();
        view.mac = lana.mac;
        view.name_port = lana.loopback ? settings.loopback_name_port : settings.name_port;
        view.datagram_port = lana.loopback ? settings.loopback_datagram_port : settings.datagram_port;
        view.session_port = lana.loopback ? settings.loopback_session_port : settings.session_port;
        views.push_back(std::move(view));
    }
    if (!served) return views;
    for (const service::LanaEntry &lana : client.Lanas().value_or(std::vector<service::LanaEntry>{})) {
        if (lana.number == 0) continue;
        LanaView view;
        view.number = lana.number;
        view.interface_name = lana.interface_name;
        view.address = lana.address;
        view.broadcast = lana.broadcast;
        view.mac = lana.mac;
        view.name_port = lana.name_port;
        view.datagram_port = lana.datagram_port;
        view.session_port = lana.session_port;
        view.service = true;
        views.push_back(std::move(view));
    }
    return views;
}

}  // namespace nbt
