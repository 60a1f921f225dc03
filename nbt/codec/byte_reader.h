// SPDX-License-Identifier: MIT
// Bounds-checked big-endian reading of wire bytes, shared by every decoder.
// A reader that runs off the end (or is told to fail) stays failed: every
// later read returns zero or an empty span, so a decoder checks ok() once at
// the end of a step instead of after each read, and nothing read from a
// length or count on the wire can take it past the bytes it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace nbt::codec {

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data, std::size_t pos = 0)
        : data_(data), pos_(pos <= data.size() ? pos : data.size()), ok_(pos <= data.size()) {}

    bool ok() const { return ok_; }
    std::size_t pos() const { return pos_; }
    std::size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
    // Everything read and nothing failed.
    bool AtEnd() const { return ok_ && pos_ == data_.size(); }

    std::uint8_t U8() {
        if (!Need(1)) return 0;
        return data_[pos_++];
    }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Number(2)); }
    std::uint32_t U32() { return Number(4); }
    std::span<const std::uint8_t> Bytes(std::size_t n) {
        if (!Need(n)) return {};
        auto out = data_.subspan(pos_, n);
        pos_ += n;
        return out;
    }
    // Moves to an absolute offset (compression pointers go backwards).
    void Seek(std::size_t pos) {
        if (pos > data_.size()) ok_ = false;
        if (ok_) pos_ = pos;
    }
    void Fail() { ok_ = false; }

private:
    // A failed read takes nothing, so a partial number never leaks out.
    std::uint32_t Number(std::size_t width) {
        if (!Need(width)) return 0;
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < width; ++i) v = v << 8 | data_[pos_++];
        return v;
    }
    bool Need(std::size_t n) {
        if (!ok_ || data_.size() - pos_ < n) ok_ = false;
        return ok_;
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_;
    bool ok_;
};

}  // namespace nbt::codec
