// SPDX-License-Identifier: MIT
// The text of the adapter status report ("Eigen adapter", "Rem adapter"),
// built from an adapter status reply (ADAPTER_STATUS followed by NAME_BUFFER
// records).
#pragma once

#include <optional>
#include <span>
#include <string>

#include "nb30.h"
#include "status_reply.h"

// Name records a full reply buffer can hold after the adapter record.
constexpr std::size_t kMaxNameRecords = (kStatusReplySize - sizeof(ADAPTER_STATUS)) / sizeof(NAME_BUFFER);

// `reply` is what the provider says it returned (ncb_length bytes). Lists only
// whole records present, never more than kMaxNameRecords. Nothing when the
// reply does not even hold the adapter record.
std::optional<std::string> AdapterReport(std::span<const UCHAR> reply);
