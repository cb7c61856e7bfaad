#include "core/settings/ParseLeadingInt.h"

#include <climits>
#include <gtest/gtest.h>

namespace {

TEST(ParseLeadingInt, TakesTheLeadingDigitsWithAnOptionalSign) {
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"7000", 7000},
        {"+15", 15},
        {"-40", -40},
        {"  \t\n12", 12}, // leading blanks are skipped, as atoi does
        {"12abc", 12},
        {"1 2", 1},
        {"0x1b", 0},
        {"00042", 42},
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {"+-3", 0},
        {" - 3", 0},
        {"１２", 0}, // full-width digits are not digits
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        // Beyond the range: saturated, never undefined.
        {"2147483648", INT_MAX},
        {"-2147483649", INT_MIN},
        {"99999999999999999999999999999999", INT_MAX},
        {"-99999999999999999999999999999999x", INT_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseLeadingInt(c.text), c.expected) << '"' << c.text << '"';
    EXPECT_EQ(ParseLeadingInt(static_cast<const char*>(nullptr)), 0);
    // A view stops where it ends, even inside a longer text.
    EXPECT_EQ(ParseLeadingInt(std::string_view("12345", 3)), 123);
}

} // namespace
