#include "core/ranges/RangeArgument.h"

#include <gtest/gtest.h>

namespace {

TEST(RangeArgumentTest, AcceptsTheFourForms) {
    struct {
        const char* text;
        const char* start;
        const char* end;
    } cases[] = {
        {"10.0.0.1-10.0.0.99", "10.0.0.1", "10.0.0.99"},
        {"10.0.0.1-10.0.1.5", "10.0.0.1", "10.0.1.5"},
        {"10.0.0.1-99", "10.0.0.1", "10.0.0.99"},
        {"10.0.0.7-7", "10.0.0.7", "10.0.0.7"},
        {"192.168.1.77/24", "192.168.1.0", "192.168.1.255"},
        {"10.0.0.0/8", "10.0.0.0", "10.255.255.255"},
        {"10.0.0.5/32", "10.0.0.5", "10.0.0.5"},
        {"10.0.0.5/31", "10.0.0.4", "10.0.0.5"},
        {"128.0.0.0/1", "128.0.0.0", "255.255.255.255"},
        {"198.18.0.9", "198.18.0.9", "198.18.0.9"},
        {"255.255.255.255", "255.255.255.255", "255.255.255.255"},
        {"0.0.0.1-0.0.0.2", "0.0.0.1", "0.0.0.2"},
    };
    for (const auto& c : cases) {
        AddressRange range;
        std::string error;
        EXPECT_TRUE(ParseRangeArgument(c.text, range, error)) << c.text << ": " << error;
        EXPECT_EQ(AddressToText(range.start), c.start) << c.text;
        EXPECT_EQ(AddressToText(range.end), c.end) << c.text;
    }
}

TEST(RangeArgumentTest, RefusesWhatIsNotAPlainRangeWithAClearMessage) {
    struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"", "empty address range"},
        {"1.2.3", "'1.2.3' is not an IPv4 address"},
        {"1.2.3.4.5", "'1.2.3.4.5' is not an IPv4 address"},
        {"1.2.3.256", "'1.2.3.256' is not an IPv4 address"},
        {"0x0a.0.0.1", "'0x0a.0.0.1' is not an IPv4 address"},
        {"010.0.0.1", "'010.0.0.1' is not an IPv4 address"},
        {"1..3.4", "'1..3.4' is not an IPv4 address"},
        {" 1.2.3.4", "' 1.2.3.4' is not an IPv4 address"},
        {"+1.2.3.4", "'+1.2.3.4' is not an IPv4 address"},
        {"1.2.3.4-", "the end '' is neither an IPv4 address nor a last octet from 0 to 255"},
        {"1.2.3.4-256", "the end '256' is neither an IPv4 address nor a last octet"},
        {"1.2.3.4-1.2.3", "'1.2.3' is not an IPv4 address"},
        {"-1.2.3.4", "'' is not an IPv4 address"},
        {"1.2.3.4-5-6", "the end '5-6' is neither"},
        {"1.2.3.4/33", "the prefix length '33' is not a number from 0 to 32"},
        {"1.2.3.4/", "the prefix length '' is not a number from 0 to 32"},
        {"1.2.3.4/08", "the prefix length '08' is not a number from 0 to 32"},
        {"1.2.3.4/-1", "mixes a range with a network prefix"},
        {"10.0.0.9-10.0.0.1", "'10.0.0.9-10.0.0.1' ends (10.0.0.1) before it starts (10.0.0.9)"},
        {"10.0.0.9-1", "ends (10.0.0.1) before it starts (10.0.0.9)"},
        {"0.0.0.0", "'0.0.0.0' starts at 0.0.0.0, which cannot be scanned"},
        {"1.2.3.4/0", "'1.2.3.4/0' starts at 0.0.0.0"},
        {"0.1.2.3/8", "starts at 0.0.0.0"},
        {"1.1.1.1-0.0.0.0", "ends at 0.0.0.0, which cannot be scanned"},
    };
    for (const auto& c : cases) {
        AddressRange range{0x01010101u, 0x02020202u};
        std::string error;
        EXPECT_FALSE(ParseRangeArgument(c.text, range, error)) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << "'" << c.text << "' gave: " << error;
        EXPECT_EQ(range, (AddressRange{0x01010101u, 0x02020202u})) << c.text;
    }
}

} // namespace
