// SPDX-License-Identifier: MIT
// Whose each name of a LANA is, where korveld carries that LANA for this
// process: what `korvel-nb status '*'` and `names` show beside each name.
// Plain values, as lana_view.h gives them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "nb30.h"

namespace nbt {

struct NameOwnerView {
    std::array<std::uint8_t, NCBNAMSZ> name{};
    std::uint32_t pid = 0;  // 0: the service's own, or a program gone
    std::uint32_t uid = 0;
    std::string program;  // as /proc/PID/comm gave it: any bytes
};

// nullopt where the service does not carry `lana` for this process.
std::optional<std::vector<NameOwnerView>> ServiceNameOwners(UCHAR lana);

}  // namespace nbt
