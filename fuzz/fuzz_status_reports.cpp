// SPDX-License-Identifier: MIT
// The console's status reports read replies whose counts come from the
// provider, and for a remote adapter from the wire: any bytes must give a
// report that stays inside them. The remote query's text parsing rides along.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "adapter_report.h"
#include "hex_to_address.h"
#include "session_report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::span<const UCHAR> reply(data, size);
    if (const auto report = SessionReport(reply); report && report->empty()) __builtin_trap();
    if (const auto report = AdapterReport(reply); report && report->empty()) __builtin_trap();

    const std::string_view text(reinterpret_cast<const char *>(data), size);
    if (IsAddressText(text)) (void)MakeAddressCallName(text);
    UCHAR address[6];
    HexToAddress(address, text);
    return 0;
}
