// SPDX-License-Identifier: MIT
// A JSON value built up by a command and written once at its end: korvel-nb
// --json prints one document per command. Objects keep their members in the
// order they were set, so documents read the same way every time.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace cli {

class Json {
public:
    Json() = default;  // null
    Json(bool value) : kind_(Kind::kBool), bool_(value) {}
    Json(int value) : Json(static_cast<std::int64_t>(value)) {}
    Json(unsigned value) : Json(static_cast<std::int64_t>(value)) {}
    Json(std::int64_t value) : kind_(Kind::kNumber), number_(value) {}
    Json(std::uint64_t value) : Json(static_cast<std::int64_t>(value)) {}
    Json(double value) : kind_(Kind::kReal), real_(value) {}
    Json(std::string value) : kind_(Kind::kString), text_(std::move(value)) {}
    Json(const char *value) : Json(std::string(value)) {}

    static Json Object() { return Json(Kind::kObject); }
    static Json Array() { return Json(Kind::kArray); }

    // Sets (or replaces) a member; the value must be an object.
    Json &Set(const std::string &key, Json value);
    // Appends an element; the value must be an array.
    Json &Push(Json value);
    // The member, created as null when missing.
    Json &operator[](const std::string &key);

    std::size_t size() const { return kind_ == Kind::kArray ? items_.size() : members_.size(); }

    // Indented by two spaces a level, ending in a newline.
    std::string Dump() const;

private:
    enum class Kind { kNull, kBool, kNumber, kReal, kString, kArray, kObject };
    explicit Json(Kind kind) : kind_(kind) {}
    void Write(std::string &out, int depth) const;

    Kind kind_ = Kind::kNull;
    bool bool_ = false;
    std::int64_t number_ = 0;
    double real_ = 0;
    std::string text_;
    std::vector<Json> items_;
    std::vector<std::pair<std::string, Json>> members_;
};

// Escapes and quotes a string as JSON, so the document is always valid
// UTF-8 and safe to print: bytes that are not UTF-8 are written as \u00XX of
// their value, and controls (C0, DEL, C1, bidirectional) as \uXXXX.
std::string JsonQuote(const std::string &text);

}  // namespace cli
