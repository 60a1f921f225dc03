// SPDX-License-Identifier: MIT
// The adapters as the provider numbers them (nbt/lana_view.h): for `lanas`,
// for talking on one directly (the raw name query, the scan's own address)
// and for the default --lana.
#pragma once

#include <optional>
#include <vector>

#include "lana_view.h"

namespace cli {

using LanaInfo = nbt::LanaView;

std::vector<LanaInfo> ReadLanas();
std::optional<LanaInfo> FindLana(UCHAR number);
// LANA 1, the first host interface, where there is one; else 0 (loopback).
UCHAR DefaultLana();

}  // namespace cli
