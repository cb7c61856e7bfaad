#include "platform/text/TextCodec.h"

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

namespace {

TEST(TextCodec, PeerBytesBecomePlainUtf8) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        std::string bytes, plain;
    } cases[] = {
        {"", ""},
        {"Service Unavailable", "Service Unavailable"},
        {"営業部 ｱｲｳ 😀 é", "営業部 ｱｲｳ 😀 é"},
        {"a\x1b[2Jb\x07\x7f\r\n\t", "a.[2Jb....."},
        {std::string("nul\0end", 7), "nul.end"},
        // C1 controls are characters too (CSI is U+009B).
        {"\xC2\x80\xC2\x9B" "31m\xC2\x9F\xC2\xA0", "..31m.\xC2\xA0"},
        // Each byte that starts no valid sequence is one replacement.
        {"\xFF\xFE", fffd + fffd},
        {"\xC0\xAF", fffd + fffd},                     // overlong '/'
        {"\xE0\x80\xAF", fffd + fffd + fffd},         // overlong, three bytes
        {"\xED\xA0\x80", fffd + fffd + fffd},         // a surrogate
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd}, // beyond U+10FFFF
        {"\xF5\x80", fffd + fffd},
        {"x\xE2\x82", "x" + fffd + fffd},             // cut short
        {"\xE2\x82" "A", fffd + fffd + "A"},
        {"\x80z", fffd + "z"},
        {"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plain);
        EXPECT_EQ(PlainUtf8(c.bytes, 1000), c.plain);
    }
}

TEST(TextCodec, PlainUtf8IsCutAtACharacterWithinTheLimit) {
    struct Case {
        std::string bytes;
        std::size_t maxBytes;
        std::string plain;
    } cases[] = {
        {"abcdef", 6, "abcdef"},
        {"abcdefg", 6, "abc..."},
        {"営業部", 9, "営業部"},
        {"営業部x", 9, "営業..."}, // 営業 and the dots fit, 部 would leave no room
        {"営業部x", 8, "営..."},
        {"営業部x", 5, "..."},
        {"\xFF\xFF\xFF\xFF", 9, "\xEF\xBF\xBD\xEF\xBF\xBD..."},
        {"abcd", 2, "ab"},           // no room for the dots
        {"営業", 2, ""},
        {"abc", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes + " " + std::to_string(c.maxBytes));
        const std::string plain = PlainUtf8(c.bytes, c.maxBytes);
        EXPECT_EQ(plain, c.plain);
        EXPECT_LE(plain.size(), c.maxBytes);
    }
}

} // namespace
