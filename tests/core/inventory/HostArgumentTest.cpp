// The host --history names: an address as strict as a range argument, a MAC
// only in its usual notations; anything a lenient reading would take is
// refused.

#include "core/inventory/HostArgument.h"

#include <gtest/gtest.h>

namespace {

TEST(HostArgument, AnAddressOrAMacInItsUsualNotationsAndNothingElse) {
    const struct {
        const char* text;
        const char* canonical; // null: refused
    } cases[] = {
        {"203.0.113.67", "203.0.113.67"},
        {"198.18.0.1", "198.18.0.1"},
        {"001122aabbcc", "001122AABBCC"},
        {"00:11:22:aa:bb:cc", "001122AABBCC"},
        {"00-11-22-AA-BB-CC", "001122AABBCC"},
        {"0011.22aa.bbcc", "001122AABBCC"},
        // Twelve decimal digits are a MAC, not an address.
        {"192168001001", "192168001001"},
        // What inet_addr would read as another host.
        {"203.0.113.0103", nullptr},
        {"3405803842", nullptr},
        {"0xCB.0.113.67", nullptr},
        {"203.0.113", nullptr},
        {"203.0.113.67.", nullptr},
        {" 203.0.113.67", nullptr},
        {"203.0.113.256", nullptr},
        {"010.010.010.010", nullptr}, // twelve digits once the dots are gone
        // Separators mixed, misplaced or doubled.
        {"00:11-22:aa:bb:cc", nullptr},
        {"0011:22aa:bbcc", nullptr},
        {"00.11.22.aa.bb.cc", nullptr},
        {"001122:aabbcc", nullptr},
        {"00::11:22:aa:bb:cc", nullptr},
        {"001122aabbc", nullptr},
        {"001122aabbccd", nullptr},
        {"001122aabbcg", nullptr},
        {"", nullptr},
        {"PC01", nullptr},
    };
    for (const auto& c : cases) {
        std::string canonical = "unchanged", error;
        const bool parsed = ParseHostArgument(c.text, canonical, error);
        EXPECT_EQ(parsed, c.canonical != nullptr) << c.text;
        if (c.canonical) {
            EXPECT_EQ(canonical, c.canonical) << c.text;
        } else {
            EXPECT_EQ(canonical, "unchanged") << c.text;
            EXPECT_NE(error.find(std::string("'") + c.text + "'"), std::string::npos) << error;
        }
    }
}

} // namespace
