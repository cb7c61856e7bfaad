#include "core/scan/NicVendorTable.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace {

std::string_view KeyAt(std::size_t i) {
    return NicVendorTable[i].key;
}

// What the lookup must agree with: the first row in table order.
const char* LinearFind(std::string_view key) {
    for (std::size_t i = 0; i < NicVendorTableSize; ++i)
        if (KeyAt(i) == key)
            return NicVendorTable[i].name;
    return nullptr;
}

std::string HexKey(unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%06X", value & 0xFFFFFFu);
    return buf;
}

TEST(NicVendorTable, ShapeSortedWithOnlyTheTwoKnownDuplicates) {
    ASSERT_EQ(NicVendorTableSize, 4543u);
    std::map<std::string, int> duplicates, prefixes;
    for (std::size_t i = 0; i < NicVendorTableSize; ++i) {
        const std::string_view key = KeyAt(i);
        ASSERT_TRUE(key.size() == 6 && key.find_first_not_of("0123456789ABCDEF") == key.npos)
            << "row " << i + 1 << ": " << key;
        ++prefixes[std::string(key.substr(0, 2))];
        if (i == 0)
            continue;
        if (KeyAt(i - 1) == key) {
            ++duplicates[std::string(key)];
        } else {
            EXPECT_LT(KeyAt(i - 1), key) << "rows " << i << " and " << i + 1;
        }
    }
    EXPECT_EQ(duplicates, (std::map<std::string, int>{{"0001C8", 1}, {"080030", 2}}));
    EXPECT_EQ(
        prefixes,
        (std::map<std::string, int>{
            {"00", 4376}, {"02", 13}, {"04", 2}, {"08", 144}, {"10", 2}, {"80", 1}, {"AA", 5}}));
}

TEST(NicVendorTable, NamesArePrintableAsciiOfTwoTo48Bytes) {
    for (std::size_t i = 0; i < NicVendorTableSize; ++i) {
        const char* name = NicVendorTable[i].name;
        ASSERT_NE(name, nullptr) << "row " << i + 1;
        const std::string_view text(name);
        EXPECT_TRUE(text.size() >= 2 && text.size() <= 48) << "row " << i + 1 << ": " << name;
        // The name lands in the comma-separated export as it stands.
        for (char c : text)
            EXPECT_TRUE(c >= 0x20 && c <= 0x7E && c != ',') << "row " << i + 1 << ": " << name;
    }
}

TEST(NicVendorTable, TellingRowsStandAtTheirPlaces) {
    const struct {
        std::size_t order; // 1-based
        const char* key;
        const char* name;
    } rows[] = {
        {1, "000000", "XEROX"},
        {11, "00000A", "OMRON"},
        {13, "00000C", "CISCO"},
        {107, "00006A", " CONSOLES"},
        {226, "0000E2", "ACER "},
        {244, "0000F4", "ALLIED TELESYN INTERNATIONAL"},
        {428, "0001AD", "Coach Master International  d.b.a. CMI Worldwide"},
        {455, "0001C8", "THOMAS CONRAD"},
        {456, "0001C8", "CONRAD"},
        {3497, "00A0C9", "INTEL - HF1-06"},
        {3552, "00AA00", "INTEL"},
        {3671, "00C04F", "DELL "},
        {4196, "00E04C", "REALTEK SEMICONDUCTOR"},
        {4377, "020701", "RACAL-DATACOM"},
        {4398, "080007", "APPLE "},
        {4400, "080009", "HP"},
        {4422, "080020", "SUN"},
        {4433, "08002B", "DEC"},
        {4438, "080030", "NETWORK RESEARCH"},
        {4439, "080030", "CERN"},
        {4440, "080030", "ROYAL MELBOURNE INST"},
        {4481, "08005A", "IBM"},
        {4536, "10005A", "IBM"},
        {4538, "800010", "ATT BELL"},
        {4543, "AA0004", "DEC"},
    };
    for (const auto& row : rows) {
        ASSERT_LE(row.order, NicVendorTableSize);
        const NicVendorRow& got = NicVendorTable[row.order - 1];
        EXPECT_STREQ(got.key, row.key) << "row " << row.order;
        EXPECT_STREQ(got.name, row.name) << "row " << row.order;
    }
}

TEST(FindNicVendor, RunsOfOneNameAndTheFirstRowOfADuplicatedKey) {
    for (unsigned i = 0; i <= 9; ++i)
        EXPECT_STREQ(FindNicVendor(HexKey(i)), "XEROX") << HexKey(i);
    for (unsigned i = 0xAA0000; i <= 0xAA0004; ++i)
        EXPECT_STREQ(FindNicVendor(HexKey(i)), "DEC") << HexKey(i);
    // The very row, not only an equal text: later rows of the key are never returned.
    EXPECT_EQ(FindNicVendor("0001C8"), NicVendorTable[454].name);
    EXPECT_EQ(FindNicVendor("080030"), NicVendorTable[4437].name);
}

TEST(FindNicVendor, KeysThatAreNotExactlyATableKeyFindNothing) {
    // Short, with blanks, longer (a terminator too), lower case, past the last row, not hex.
    const std::string_view misses[] = {
        "",        "0",       "00A0C",        "00A0C9 ",
        " 00A0C9", "00A0C91", "00A0C9123456", std::string_view("00A0C9\0", 7),
        "00a0c9",  "0000e2",  "aa0004",       "AA0005",
        "FF0000",  "FFFFFF",  "GGGGGG"};
    for (std::string_view key : misses)
        EXPECT_EQ(FindNicVendor(key), nullptr) << "'" << std::string(key) << "'";
    // No row uses the pair FF, so every key that begins with it misses.
    for (unsigned low = 0; low <= 0xFFFF; ++low)
        ASSERT_EQ(FindNicVendor(HexKey(0xFF0000 + low)), nullptr) << HexKey(0xFF0000 + low);
}

TEST(FindNicVendor, AgreesWithAFirstMatchScanInTableOrder) {
    std::set<std::string> keys;
    for (std::size_t i = 0; i < NicVendorTableSize; ++i) {
        const std::string key(KeyAt(i));
        const unsigned value = static_cast<unsigned>(std::stoul(key, nullptr, 16));
        keys.insert(key);
        // The neighbours of every row, most of them absent, probe the bisection's edges.
        keys.insert(HexKey(value + 1));
        keys.insert(HexKey(value - 1));
        std::string lower = key;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        keys.insert(lower);
        keys.insert(key.substr(0, 5));
    }
    std::size_t found = 0;
    for (const std::string& key : keys) {
        const char* expected = LinearFind(key);
        ASSERT_EQ(FindNicVendor(key), expected) << key;
        found += expected != nullptr;
    }
    // Every distinct table key was probed, and so were keys that miss.
    EXPECT_EQ(found, 4540u);
    EXPECT_GT(keys.size(), found);
}

} // namespace
