#include "scan/NicVendorTable.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
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
    for (std::size_t i = 0; i < NicVendorTableSize; ++i) {
        if (KeyAt(i) == key) {
            return NicVendorTable[i].name;
        }
    }
    return nullptr;
}

bool IsUpperHexKey(std::string_view key) {
    if (key.size() != 6) {
        return false;
    }
    for (char c : key) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

std::string HexKey(unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%06X", value & 0xFFFFFFu);
    return buf;
}

TEST(NicVendorTable, ShapeSortedWithOnlyTheTwoKnownDuplicates) {
    ASSERT_EQ(NicVendorTableSize, 4543u);
    std::map<std::string, int> duplicates;
    for (std::size_t i = 0; i < NicVendorTableSize; ++i) {
        ASSERT_TRUE(IsUpperHexKey(KeyAt(i))) << "row " << i + 1 << ": " << KeyAt(i);
        if (i == 0) {
            continue;
        }
        if (KeyAt(i - 1) == KeyAt(i)) {
            ++duplicates[std::string(KeyAt(i))];
        } else {
            EXPECT_LT(KeyAt(i - 1), KeyAt(i)) << "rows " << i << " and " << i + 1;
        }
    }
    const std::map<std::string, int> expected{{"0001C8", 1}, {"080030", 2}};
    EXPECT_EQ(duplicates, expected);

    std::map<std::string, int> prefixes;
    for (std::size_t i = 0; i < NicVendorTableSize; ++i) {
        ++prefixes[std::string(KeyAt(i).substr(0, 2))];
    }
    const std::map<std::string, int> expectedPrefixes{
        {"00", 4376}, {"02", 13}, {"04", 2}, {"08", 144}, {"10", 2}, {"80", 1}, {"AA", 5}};
    EXPECT_EQ(prefixes, expectedPrefixes);
}

TEST(NicVendorTable, NamesArePrintableAsciiOfTwoTo48Bytes) {
    for (std::size_t i = 0; i < NicVendorTableSize; ++i) {
        const char* name = NicVendorTable[i].name;
        ASSERT_NE(name, nullptr) << "row " << i + 1;
        const std::size_t length = std::strlen(name);
        EXPECT_GE(length, 2u) << "row " << i + 1;
        EXPECT_LE(length, 48u) << "row " << i + 1 << ": " << name;
        for (std::size_t j = 0; j < length; ++j) {
            const unsigned char c = static_cast<unsigned char>(name[j]);
            EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << "row " << i + 1 << " byte " << j;
            // The name lands in the comma-separated export as it stands.
            EXPECT_NE(c, ',') << "row " << i + 1 << ": " << name;
        }
    }
}

struct TellingRow {
    std::size_t order; // 1-based
    const char* key;
    const char* name;
};

TEST(NicVendorTable, TellingRowsStandAtTheirPlaces) {
    const TellingRow rows[] = {
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
    for (const TellingRow& row : rows) {
        ASSERT_LE(row.order, NicVendorTableSize);
        const NicVendorRow& got = NicVendorTable[row.order - 1];
        EXPECT_STREQ(got.key, row.key) << "row " << row.order;
        EXPECT_STREQ(got.name, row.name) << "row " << row.order;
    }
}

TEST(FindNicVendor, FixedKeysAndFirstRowOfADuplicatedKey) {
    for (unsigned i = 0; i <= 9; ++i) {
        EXPECT_STREQ(FindNicVendor(HexKey(i)), "XEROX") << HexKey(i);
    }
    for (unsigned i = 0; i <= 4; ++i) {
        EXPECT_STREQ(FindNicVendor(HexKey(0xAA0000 + i)), "DEC") << HexKey(0xAA0000 + i);
    }
    EXPECT_STREQ(FindNicVendor("080009"), "HP");
    EXPECT_STREQ(FindNicVendor("00A0C9"), "INTEL - HF1-06");

    // The very row, not only an equal text: later rows of the key are never returned.
    EXPECT_EQ(FindNicVendor("0001C8"), NicVendorTable[454].name);
    EXPECT_STREQ(FindNicVendor("0001C8"), "THOMAS CONRAD");
    EXPECT_EQ(FindNicVendor("080030"), NicVendorTable[4437].name);
    EXPECT_STREQ(FindNicVendor("080030"), "NETWORK RESEARCH");

    // Blanks are part of the name.
    EXPECT_EQ(std::string_view(FindNicVendor("0000E2")), "ACER ");
    EXPECT_EQ(std::string_view(FindNicVendor("00006A")), " CONSOLES");
}

TEST(FindNicVendor, KeysThatAreNotExactlyATableKeyFindNothing) {
    const std::string_view misses[] = {
        "",
        "0",
        "00A0C",                         // too short
        "00A0C9 ",                       // trailing blank
        " 00A0C9",                       // leading blank
        "00A0C91",                       // a table key is only a prefix
        "00A0C9123456",                  // a whole MAC address
        std::string_view("00A0C9\0", 7), // a terminator counted in the length
        "00a0c9",                        // lower case
        "0000e2",                        // lower case
        "aa0004",                        // lower case, last row
        "AA0005",                        // after the last row
        "FF0000",
        "FFFFFF",
        "GGGGGG",
    };
    for (std::string_view key : misses) {
        EXPECT_EQ(FindNicVendor(key), nullptr) << "'" << std::string(key) << "'";
    }
    // No row uses the pair FF, so every key that begins with it misses.
    for (unsigned low = 0; low <= 0xFFFF; ++low) {
        ASSERT_EQ(FindNicVendor(HexKey(0xFF0000 + low)), nullptr) << HexKey(0xFF0000 + low);
    }
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
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
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
