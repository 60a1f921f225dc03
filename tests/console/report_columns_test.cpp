// SPDX-License-Identifier: MIT
// Report columns line up when the box expands the tabs: every row's cells
// start where the heading's do.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <vector>

#include "adapter_report.h"
#include "session_report.h"
#include "ws_tabs.h"

namespace {

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Columns, once the line's tabs are expanded at `width`, at which its cells
// after a tab begin, leaving out empty cells.
std::vector<int> CellStarts(const std::string &line, int width) {
    std::vector<int> starts;
    int column = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\t') {
            ++column;
            continue;
        }
        column = (column / width + 1) * width;
        if (i + 1 < line.size() && line[i + 1] != '\t') starts.push_back(column);
    }
    return starts;
}

void ExpectRowsUnderHeading(const std::string &text, std::size_t heading, std::size_t firstRow) {
    const int width = AligningTabWidth(text);
    const auto lines = Lines(text);
    ASSERT_GT(lines.size(), firstRow);
    const auto columns = CellStarts(lines[heading], width);
    for (std::size_t row = firstRow; row < lines.size(); ++row)
        EXPECT_EQ(CellStarts(lines[row], width), columns) << ExpandTabs(lines[row], width);
}

TEST(ReportColumns, AdapterNamesLineUpUnderTheirHeadings) {
    std::vector<UCHAR> reply(sizeof(ADAPTER_STATUS) + 3 * sizeof(NAME_BUFFER));
    auto *status = reinterpret_cast<ADAPTER_STATUS *>(reply.data());
    status->name_count = 3;
    auto *names = reinterpret_cast<NAME_BUFFER *>(reply.data() + sizeof(ADAPTER_STATUS));
    const UCHAR flags[] = {0x84, 0x07, 0x0C};  // the longest and shortest state texts
    for (int i = 0; i < 3; ++i) {
        std::memcpy(names[i].name, "KORVEL          ", 16);
        names[i].name_num = UCHAR(2 + i);
        names[i].name_flags = flags[i];
    }
    const auto text = AdapterReport(reply);
    ASSERT_TRUE(text);
    ExpectRowsUnderHeading(*text, 4, 6);
}

TEST(ReportColumns, SessionsLineUpUnderTheirHeadings) {
    std::vector<UCHAR> reply(sizeof(SESSION_HEADER) + 2 * sizeof(SESSION_BUFFER));
    auto *header = reinterpret_cast<SESSION_HEADER *>(reply.data());
    header->num_sess = 2;
    auto *sessions = reinterpret_cast<SESSION_BUFFER *>(reply.data() + sizeof(SESSION_HEADER));
    for (int i = 0; i < 2; ++i) {
        sessions[i].lsn = UCHAR(1 + i);
        sessions[i].state = UCHAR(i == 0 ? SESSION_ESTABLISHED : LISTEN_OUTSTANDING);
        std::memcpy(sessions[i].local_name, "LOCALNAME       ", 16);
        std::memcpy(sessions[i].remote_name, "REMOTE          ", 16);
    }
    const auto text = SessionReport(reply);
    ASSERT_TRUE(text);
    ExpectRowsUnderHeading(*text, 2, 4);
}

TEST(ReportColumns, TabsExpandToTheNextStop) {
    EXPECT_EQ(ExpandTabs("a\tb\n\tc", 4), "a   b\n    c");
    EXPECT_EQ(ExpandTabs("abcd\te", 4), "abcd    e");
    EXPECT_EQ(AligningTabWidth("no tabs at all\n"), 8);
}

}  // namespace
