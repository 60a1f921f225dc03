// SPDX-License-Identifier: MIT
#include "ws_tabs.h"

#include <set>

namespace {
constexpr int kNarrowest = 8;
constexpr int kWidest = 32;

// Adds the column of every cell that follows a tab to `starts`.
void CellStarts(std::string_view line, int width, std::set<int> &starts) {
    int column = 0;
    for (char c : line) {
        if (c == '\t') {
            column = (column / width + 1) * width;
            starts.insert(column);
        } else {
            ++column;
        }
    }
}
}  // namespace

int AligningTabWidth(std::string_view text) {
    int best = kNarrowest;
    std::size_t fewest = SIZE_MAX;
    for (int width = kNarrowest; width <= kWidest; ++width) {
        std::set<int> starts;
        std::size_t begin = 0;
        while (begin <= text.size()) {
            std::size_t end = text.find('\n', begin);
            if (end == std::string_view::npos) end = text.size();
            CellStarts(text.substr(begin, end - begin), width, starts);
            begin = end + 1;
        }
        if (starts.size() < fewest) {
            fewest = starts.size();
            best = width;
        }
    }
    return best;
}

std::string ExpandTabs(std::string_view text, int width) {
    std::string out;
    out.reserve(text.size() * 2);
    int column = 0;
    for (char c : text) {
        if (c == '\t') {
            const int next = (column / width + 1) * width;
            out.append(std::size_t(next - column), ' ');
            column = next;
        } else {
            out.push_back(c);
            column = c == '\n' ? 0 : column + 1;
        }
    }
    return out;
}
