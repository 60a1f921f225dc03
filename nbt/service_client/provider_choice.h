// SPDX-License-Identifier: MIT
// Which provider carries LANAs 1 and up: korveld, where its socket answers,
// else the process's own. KORVEL_PROVIDER=embedded|service forces one, and
// KORVEL_PROVIDER_SOCKET names the service's socket.
#pragma once

#include <string>

namespace nbt {

enum class ProviderChoice {
    kAuto,      // the service when it answers, else embedded
    kEmbedded,  // never the service
    kService,   // only the service: without it LANAs 1 and up do not exist
};

inline constexpr const char *kDefaultServiceSocket = "/run/korvel/provider.sock";

// Read from the environment each time. An unknown KORVEL_PROVIDER is kAuto,
// with a word on standard error once.
ProviderChoice ChosenProvider();
std::string ServiceSocketPath();

}  // namespace nbt
