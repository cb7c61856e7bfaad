// The search's comparison on CP932 bytes, and the row it finds in a list.

#include "core/commands/CellSearch.h"
#include "core/scan/MemoryResultList.h"

#include <gtest/gtest.h>

namespace {

TEST(CellSearch, UpperCaseChangesLettersOnly) {
    const struct {
        const char* bytes;
        const char* upper;
    } cases[] = {
        {"pc01-x", "PC01-X"},
        {"\x82\x90\x82\x83", "\x82\x6F\x82\x62"}, // full-width pc -> PC
        {"\x83\xBF\x83\xD6", "\x83\x9F\x83\xB6"}, // Greek alpha, omega
        {"\x84\x70\x84\x76\x84\x80\x84\x91",
         "\x84\x40\x84\x46\x84\x4F\x84\x60"},     // Cyrillic a yo o ya
        {"\xB1\xB2\xDF", "\xB1\xB2\xDF"},         // half-width katakana stay
        {"\x83\x61\x83\x7A", "\x83\x61\x83\x7A"}, // katakana with 'a' and 'z' as second bytes
        {"a\x82", "A\x82"},                       // a lead byte at the end
    };
    for (const auto& c : cases)
        EXPECT_EQ(Cp932UpperCase(c.bytes), c.upper) << c.bytes;
}

TEST(CellSearch, MatchesStartOnlyAtCharacterBoundaries) {
    const struct {
        const char* cell;
        const char* text;
        bool found;
    } cases[] = {
        {"PC01", "PC", true},
        {"PC01", "PC01X", false},
        {"", "", false}, // an empty cell has no place to match
        {"X", "", true},
        {"\x83\x41", "A", false},    // "A" is the second byte of a katakana
        {"\x83\x41\x41", "A", true}, // and also a character of its own
        {"\x95\x5C", "\\", false},   // a kanji whose second byte is a backslash
        {"\xB1\x41", "A", true},     // half-width katakana is one byte
        {"\x83\x41\x83\x41", "\x41\x83", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Cp932Contains(c.cell, c.text), c.found) << c.cell << " / " << c.text;
}

TEST(CellSearch, FindsTheFirstRowInRowThenColumnOrder) {
    MemoryResultList list;
    EXPECT_EQ(FindMatchingRow(list, ""), -1); // nothing to find in an empty list
    const std::vector<std::vector<std::string>> rows = {
        {"192.168.1.10", "○", "PC01", "WORKGROUP", "001122334455", "不明", "pc01/ﾕｰｻﾞ"},
        {"192.168.1.1", "×"},
        {"192.168.1.12", "○", "ＰＣ０２", "", "", "", std::string(300, 'M')},
        {"10.0.0.7", "○", "αβ"},
    };
    for (const auto& cells : rows) {
        const int row = list.InsertItem(list.GetItemCount(), cells[0]);
        for (std::size_t column = 1; column < cells.size(); ++column)
            list.SetItemText(row, static_cast<int>(column), cells[column]);
    }
    const struct {
        std::string text;
        int row;
    } cases[] = {
        {"pc", 0},
        {"", 0},
        {"×", 1},
        {"168.1.1", 0},
        {"ﾕｰｻﾞ", 0},
        {"ｐｃ０２", 2},
        {"ΑΒ", 3},
        {std::string(255, 'm'), 2},
        {std::string(256, 'M'), -1}, // longer than any cell read through the buffer
        {"nowhere", -1},
        {"\xF0\x9F\x98\x80", -1}, // a character CP932 lacks
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindMatchingRow(list, c.text), c.row) << c.text;
}

} // namespace
