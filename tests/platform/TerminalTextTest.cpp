#include "platform/text/TerminalText.h"

#include <gtest/gtest.h>

namespace {

const std::string kFffd = "\xEF\xBF\xBD";

// What a cell prints as, and the columns it takes, whatever the bytes.
TEST(TerminalText, CellsArePlainTextAndMeasuredInColumns) {
    const struct {
        std::string bytes, cell;
        std::size_t width;
    } cases[] = {
        {"PC01", "PC01", 4},
        {"経理部", "経理部", 6},
        {"ｹｲﾘ", "ｹｲﾘ", 3},                           // half-width katakana: one column each
        {"e\xCC\x81", "e\xCC\x81", 1},               // a combining accent takes none
        {"○×…", "○×…", 3},                           // ambiguous: narrow
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", 2}, // an emoji
        {"a\x1b[2Jb", "a.[2Jb", 6},
        {"a\r\nb\t", "a..b.", 5},
        {"a\x7f\xC2\x85z", "a..z", 4}, // DEL, and NEL (C1)
        {"a\xE2\x80\xAE"
         "cba",
         "a.cba", 5},                 // right-to-left override
        {"a\xE2\x81\xA6z", "a.z", 3}, // left-to-right isolate
        {"\xff\xc3"
         "x",
         kFffd + kFffd + "x", 3},                   // not UTF-8
        {"\xED\xA0\x80", kFffd + kFffd + kFffd, 3}, // a surrogate
        {"\xCD\xB8", kFffd, 1},                     // U+0378, unassigned
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TerminalCell(c.bytes, 100), c.cell) << c.bytes;
        EXPECT_EQ(TerminalWidth(c.bytes), c.width) << c.bytes;
        EXPECT_EQ(TerminalWidth(c.cell), c.width) << c.bytes;
    }
}

TEST(TerminalText, OverlongCellsAreCutAtACharacterWithAnEllipsis) {
    const struct {
        std::string bytes;
        std::size_t maxWidth;
        std::string cell;
    } cases[] = {
        {"abcdef", 6, "abcdef"},
        {"abcdef", 5, "abcd…"},
        {"abcdef", 1, "…"},
        {"abcdef", 0, ""},
        {"経理部のPC", 10, "経理部のPC"},
        {"経理部のPC", 9, "経理部の…"},
        {"経理部のPC", 8, "経理部…"}, // "の" would straddle the edge
        {"経理部のPC", 7, "経理部…"},
        {"e\xCC\x81"
         "e\xCC\x81"
         "e",
         2, "e\xCC\x81…"},
        {"a\x1b\x1b\x1b", 3, "a.…"},
    };
    for (const auto& c : cases) {
        const std::string cell = TerminalCell(c.bytes, c.maxWidth);
        EXPECT_EQ(cell, c.cell) << c.bytes << " in " << c.maxWidth;
        EXPECT_LE(TerminalWidth(cell), c.maxWidth) << c.bytes;
    }
}

} // namespace
