// SPDX-License-Identifier: MIT
// CString: a single-byte text with printf-style formatting, as the console's
// handlers build their lines and reports.
#pragma once

#include <string>

#include "ws_types.h"

class CString {
public:
    CString() = default;
    CString(const char *text) : m_text(text ? text : "") {}
    CString(const std::string &text) : m_text(text) {}

    operator const char *() const { return m_text.c_str(); }
    const std::string &str() const { return m_text; }

    int GetLength() const { return int(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    char GetAt(int index) const { return m_text.at(std::size_t(index)); }
    char operator[](int index) const { return GetAt(index); }

    // Formats as printf does; the result replaces the text.
    void Format(const char *format, ...) __attribute__((format(printf, 2, 3)));
    // Formats as printf does and appends the result.
    void AppendFormat(const char *format, ...) __attribute__((format(printf, 2, 3)));
    void Append(const char *text) { m_text += text ? text : ""; }
    // Loads a string resource; false (text unchanged) when there is none.
    bool LoadString(UINT id);

    CString &operator=(const char *text) {
        m_text = text ? text : "";
        return *this;
    }
    CString &operator+=(const char *text) {
        Append(text);
        return *this;
    }
    CString &operator+=(const CString &text) {
        m_text += text.m_text;
        return *this;
    }
    CString &operator+=(char c) {
        m_text += c;
        return *this;
    }
    friend bool operator==(const CString &a, const CString &b) { return a.m_text == b.m_text; }
    friend bool operator==(const CString &a, const char *b) { return a.m_text == (b ? b : ""); }

private:
    std::string m_text;
};
