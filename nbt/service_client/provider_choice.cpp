// SPDX-License-Identifier: MIT
#include "provider_choice.h"

#include <errno.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "printable.h"

namespace nbt {

ProviderChoice ChosenProvider() {
    const char *value = std::getenv("KORVEL_PROVIDER");
    if (!value || !*value) return ProviderChoice::kAuto;
    const std::string_view text(value);
    if (text == "embedded") return ProviderChoice::kEmbedded;
    if (text == "service") return ProviderChoice::kService;
    static std::once_flag once;
    std::call_once(once, [&] {
        std::fprintf(stderr, "%s: KORVEL_PROVIDER=%s is neither embedded nor service; ignored\n",
                     program_invocation_short_name, Printable(text).c_str());
    });
    return ProviderChoice::kAuto;
}

std::string ServiceSocketPath() {
    const char *value = std::getenv("KORVEL_PROVIDER_SOCKET");
    return value && *value ? value : kDefaultServiceSocket;
}

}  // namespace nbt
