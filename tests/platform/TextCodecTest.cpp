#include "platform/TextCodec.h"

#include <gtest/gtest.h>

namespace {

TEST(TextCodec, Cp932RoundTripOfJapaneseAndAscii) {
    const std::string utf8 = "営業部PC-01ｱｲｳ";
    std::string sjis;
    ASSERT_TRUE(Utf8ToCp932(utf8, sjis));
    // 営業部 = 6 bytes, PC-01 = 5, half-width katakana = 1 byte each.
    EXPECT_EQ(sjis.size(), 6u + 5u + 3u);
    EXPECT_EQ(Cp932ToUtf8(sjis), utf8);
}

TEST(TextCodec, InvalidCp932BytesBecomeReplacementCharactersNotFailures) {
    // 0x81 needs a trail byte; 0xFD..0xFF are not CP932 lead bytes.
    EXPECT_EQ(Cp932ToUtf8(std::string("A\x81", 2)), "A\xEF\xBF\xBD");
    EXPECT_EQ(Cp932ToUtf8(std::string("\xFF" "B", 2)), "\xEF\xBF\xBD" "B");
    EXPECT_EQ(Cp932ToUtf8(std::string("\0x", 2)), std::string("\0x", 2));
}

TEST(TextCodec, CharactersOutsideCp932AreReportedAndReplaced) {
    std::string out;
    EXPECT_FALSE(Utf8ToCp932("a\xF0\x9F\x98\x80" "b", out)); // an emoji
    EXPECT_EQ(out, "a?b");
    EXPECT_FALSE(Utf8ToCp932("a\xC3", out)); // cut UTF-8
}

TEST(TextCodec, TruncationCountsCp932BytesAndNeverSplitsACharacter) {
    EXPECT_EQ(Cp932Length("日本abc"), 7u);
    EXPECT_EQ(TruncateToCp932Bytes("日本abc", 7), "日本abc");
    EXPECT_EQ(TruncateToCp932Bytes("日本abc", 3), "日");
    EXPECT_EQ(TruncateToCp932Bytes("日本abc", 4), "日本");
    EXPECT_EQ(TruncateToCp932Bytes("日本abc", 1), "");
    EXPECT_EQ(TruncateToCp932Bytes("ｱｲｳ", 2), "ｱｲ");
}

} // namespace
