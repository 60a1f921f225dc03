// SPDX-License-Identifier: MIT
// The text of the "Eigen sessions" report, built from a session status reply
// (SESSION_HEADER followed by SESSION_BUFFER records).
#pragma once

#include <optional>
#include <span>
#include <string>

#include "nb30.h"
#include "status_reply.h"

// Session records a full reply buffer can hold after the header.
constexpr std::size_t kMaxSessionRecords =
    (kStatusReplySize - sizeof(SESSION_HEADER)) / sizeof(SESSION_BUFFER);

// `reply` is what the provider says it returned (ncb_length bytes). Lists only
// whole records present, never more than kMaxSessionRecords. Nothing when the
// reply does not even hold the header.
std::optional<std::string> SessionReport(std::span<const UCHAR> reply);
