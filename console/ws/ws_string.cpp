// SPDX-License-Identifier: MIT
#include "ws_string.h"

#include <cstdarg>
#include <cstdio>

#include "ws_resources.h"

namespace {
std::string VFormat(const char *format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (size <= 0) return {};
    std::string text(std::size_t(size) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(std::size_t(size));
    return text;
}
}  // namespace

void CString::Format(const char *format, ...) {
    va_list args;
    va_start(args, format);
    m_text = VFormat(format, args);
    va_end(args);
}

void CString::AppendFormat(const char *format, ...) {
    va_list args;
    va_start(args, format);
    m_text += VFormat(format, args);
    va_end(args);
}

bool CString::LoadString(UINT id) {
    const char *text = FindStringResource(id);
    if (!text) return false;
    m_text = text;
    return true;
}
