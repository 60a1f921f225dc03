// SPDX-License-Identifier: MIT
// Reading NetBIOS status replies (session and adapter status) safely: the
// provider's counts are never trusted past the bytes it says it returned.
#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <span>
#include <type_traits>

#include "nb30.h"

// Reply buffer both status reports hand to the provider.
constexpr WORD kStatusReplySize = 4000;

// The record of type T at byte offset `at`, or nothing when the reply ends
// before the record does. Copied out, so the reply needs no alignment.
template <typename T>
std::optional<T> ReadRecord(std::span<const UCHAR> reply, std::size_t at) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (at > reply.size() || reply.size() - at < sizeof(T)) return std::nullopt;
    T record;
    std::memcpy(&record, reply.data() + at, sizeof(T));
    return record;
}

// How many whole records of `record_size` bytes follow a header of
// `header_size` bytes: at most `claimed`, at most what a full reply buffer
// can hold, and at most what the reply really holds.
constexpr std::size_t RecordsPresent(std::size_t reply_size, std::size_t header_size, std::size_t record_size,
                                     std::size_t claimed) {
    const std::size_t buffer_fits = (kStatusReplySize - header_size) / record_size;
    const std::size_t reply_holds = reply_size > header_size ? (reply_size - header_size) / record_size : 0;
    std::size_t n = claimed;
    if (n > buffer_fits) n = buffer_fits;
    if (n > reply_holds) n = reply_holds;
    return n;
}
