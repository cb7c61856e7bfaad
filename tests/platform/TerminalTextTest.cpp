#include "platform/text/TerminalText.h"

#include <gtest/gtest.h>

namespace {

const std::string kFffd = "\xEF\xBF\xBD";

// What a cell prints as within a width, and the columns the bytes take.
TEST(TerminalText, CellsArePlainTextMeasuredInColumnsAndCutToFit) {
    const struct {
        std::string bytes;
        std::size_t width, maxWidth;
        std::string cell;
    } cases[] = {
        {"PC01", 4, 4, "PC01"},
        {"経理部のPC", 10, 10, "経理部のPC"},
        {"経理部のPC", 10, 9, "経理部の…"},
        {"経理部のPC", 10, 8, "経理部…"}, // "の" would straddle the edge
        {"ｹｲﾘ", 3, 9, "ｹｲﾘ"},            // half-width katakana: one column each
        {"e\xCC\x81" "e\xCC\x81" "e", 3, 2, "e\xCC\x81…"}, // combining accents take none
        {"○×…", 3, 9, "○×…"},                              // ambiguous: narrow
        {"\xF0\x9F\x98\x80", 2, 9, "\xF0\x9F\x98\x80"},    // an emoji
        {"abcdef", 6, 1, "…"},
        {"abcdef", 6, 0, ""},
        {"a\x1b[2Jb", 6, 9, "a.[2Jb"},
        {"a\r\nb\t\x7f\xC2\x85", 7, 9, "a..b..."},         // DEL, and NEL (C1)
        {"a\x1b\x1b\x1b", 4, 3, "a.…"},
        {"a\xE2\x80\xAE" "cba", 5, 9, "a.cba"},            // right-to-left override
        {"a\xE2\x81\xA6z", 3, 9, "a.z"},                   // left-to-right isolate
        {"\xff\xc3" "x", 3, 9, kFffd + kFffd + "x"},       // not UTF-8
        {"\xED\xA0\x80", 3, 9, kFffd + kFffd + kFffd},     // a surrogate
        {"\xCD\xB8", 1, 9, kFffd},                         // U+0378, unassigned
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TerminalWidth(c.bytes), c.width) << c.bytes;
        const std::string cell = TerminalCell(c.bytes, c.maxWidth);
        EXPECT_EQ(cell, c.cell) << c.bytes << " in " << c.maxWidth;
        // A replacement takes the columns it was measured at.
        if (c.width <= c.maxWidth)
            EXPECT_EQ(TerminalWidth(cell), c.width) << c.bytes;
        else
            EXPECT_LE(TerminalWidth(cell), c.maxWidth) << c.bytes;
    }
}

} // namespace
