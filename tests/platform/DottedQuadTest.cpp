#include "platform/wire/DottedQuad.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DottedQuadTest, OnlyFourPlainDecimalOctetsAreAnAddress) {
    const std::pair<const char*, std::uint32_t> addresses[] = {
        {"0.0.0.0", 0u},
        {"10.0.0.1", 0x0A000001u},
        {"192.168.1.254", 0xC0A801FEu},
        {"255.255.255.255", 0xFFFFFFFFu},
    };
    for (const auto& [text, expected] : addresses) {
        std::uint32_t address = 0;
        EXPECT_TRUE(ParseDottedQuad(text, address)) << text;
        EXPECT_EQ(address, expected) << text;
    }
    // What inet_addr or inet_aton would read some other way, or not at all.
    for (const std::string& text : std::initializer_list<std::string>{
             "", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1.2.3.04", "01.2.3.4", "0x1.2.3.4", "1.2.3.-4",
             "+1.2.3.4", " 1.2.3.4", "1.2.3.4 ", "1..3.4", "1.2.3.", "1.2.3.1000", "10.1",
             "4294967295", std::string("1.2.3.4\0", 8)}) {
        std::uint32_t address = 7;
        EXPECT_FALSE(ParseDottedQuad(text, address)) << text;
        EXPECT_EQ(address, 7u) << text;
    }
}

} // namespace
