// Bounds-checked big-endian reading and writing for the name-service codec.
// A reader that runs off the end stays failed: every later read returns zero,
// so a parser checks ok() once at the end of a step instead of after each read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace nbt::codec {

class NameByteReader {
public:
    explicit NameByteReader(std::span<const std::uint8_t> data, std::size_t pos = 0)
        : data_(data), pos_(pos), ok_(pos <= data.size()) {}

    bool ok() const { return ok_; }
    std::size_t pos() const { return pos_; }
    std::size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }

    std::uint8_t U8() {
        if (!Need(1)) return 0;
        return data_[pos_++];
    }
    std::uint16_t U16() {
        if (!Need(2)) return 0;
        std::uint16_t v = static_cast<std::uint16_t>(data_[pos_] << 8 | data_[pos_ + 1]);
        pos_ += 2;
        return v;
    }
    std::uint32_t U32() {
        if (!Need(4)) return 0;
        std::uint32_t v = std::uint32_t{data_[pos_]} << 24 | std::uint32_t{data_[pos_ + 1]} << 16 |
                          std::uint32_t{data_[pos_ + 2]} << 8 | std::uint32_t{data_[pos_ + 3]};
        pos_ += 4;
        return v;
    }
    std::span<const std::uint8_t> Bytes(std::size_t n) {
        if (!Need(n)) return {};
        auto out = data_.subspan(pos_, n);
        pos_ += n;
        return out;
    }
    void Fail() { ok_ = false; }
    void Seek(std::size_t pos) {
        if (pos > data_.size()) ok_ = false;
        if (ok_) pos_ = pos;
    }

private:
    bool Need(std::size_t n) {
        if (!ok_ || data_.size() - pos_ < n) ok_ = false;
        return ok_;
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_;
    bool ok_;
};

inline void PutU8(std::vector<std::uint8_t> &out, std::uint8_t v) {
    out.push_back(v);
}
inline void PutU16(std::vector<std::uint8_t> &out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}
inline void PutU32(std::vector<std::uint8_t> &out, std::uint32_t v) {
    PutU16(out, static_cast<std::uint16_t>(v >> 16));
    PutU16(out, static_cast<std::uint16_t>(v));
}

}  // namespace nbt::codec
