// SPDX-License-Identifier: MIT
// Tab expansion for showing tab-separated report texts in a fixed-width font.
#pragma once

#include <string>
#include <string_view>

// The tab width, in characters, at which the cells of the text's tabbed
// lines start at the fewest distinct columns: headings and rows line up.
int AligningTabWidth(std::string_view text);

// The text with every tab replaced by the spaces up to the next tab stop.
std::string ExpandTabs(std::string_view text, int width);
