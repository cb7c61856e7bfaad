#include "core/ranges/RangeListTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

RangeListField F(std::size_t line, int field, std::string text) {
    return RangeListField{field, line, std::move(text)};
}

// The fields without their file line numbers, which the cases below leave
// out; FileLinesCountEveryLineEndAsAnEditorDoes checks them.
std::vector<RangeListField> WithoutFileLines(std::vector<RangeListField> fields) {
    for (RangeListField& f : fields)
        f.fileLine = 0;
    return fields;
}

struct Case {
    const char* name;
    std::string bytes;
    std::vector<RangeListField> fields;
    bool tooLong = false;
};

std::string Describe(const std::vector<RangeListField>& fields) {
    std::string out;
    for (const RangeListField& f : fields) {
        out += "[L" + std::to_string(f.line) + " F" + std::to_string(f.field) + " '";
        out += f.text.size() > 20 ? std::to_string(f.text.size()) + " bytes" : f.text;
        out += "'] ";
    }
    return out;
}

const std::string k257(257, '7');
const std::string k258(258, '8');

std::vector<Case> Cases() {
    using namespace std::string_literals;
    return {
        {"empty file", "", {}},
        {"one line", "a,b\r\n", {F(0, 0, "a"), F(0, 1, "b")}},
        {"two lines",
         "1.1.1.1,1.1.1.5\r\n2.2.2.1,2.2.2.9\r\n",
         {F(0, 0, "1.1.1.1"), F(0, 1, "1.1.1.5"), F(1, 0, "2.2.2.1"), F(1, 1, "2.2.2.9")}},
        {"lone LF after the end field ends the line",
         "a,b\nc,d\n",
         {F(0, 0, "a"), F(0, 1, "b"), F(1, 0, "c"), F(1, 1, "d")}},
        {"lone LF after the start field goes on to the end field",
         "a\nb\nc\nd\n",
         {F(0, 0, "a"), F(0, 1, "b"), F(1, 0, "c"), F(1, 1, "d")}},
        {"CR ends the line after the start field",
         "a\r\nb,c\r\n",
         {F(0, 0, "a"), F(1, 0, "b"), F(1, 1, "c")}},
        {"lone CR ends the line after the start field",
         "a\rb,c\r",
         {F(0, 0, "a"), F(1, 0, "b"), F(1, 1, "c")}},
        {"byte after a lone CR is read again",
         "a,b\rc,d\r\n",
         {F(0, 0, "a"), F(0, 1, "b"), F(1, 0, "c"), F(1, 1, "d")}},
        {"comma after a lone CR is a separator",
         "a,b\r,d\r\n",
         {F(0, 0, "a"), F(0, 1, "b"), F(1, 0, ""), F(1, 1, "d")}},
        {"CR after a lone CR is an empty line",
         "a,b\r\r\n",
         {F(0, 0, "a"), F(0, 1, "b"), F(1, 0, "")}},
        {"only the first LF after CR is swallowed",
         "a,b\r\n\n",
         {F(0, 0, "a"), F(0, 1, "b"), F(1, 0, "")}},
        {"lone CR at the end of the file", "a,b\r", {F(0, 0, "a"), F(0, 1, "b")}},
        {"lone CR right after a start field at the end", "a\r", {F(0, 0, "a")}},
        {"last line without line end loses its last field",
         "a,b\r\nc,d",
         {F(0, 0, "a"), F(0, 1, "b"), F(1, 0, "c")}},
        {"last line with only a start loses it", "a,b\r\nc", {F(0, 0, "a"), F(0, 1, "b")}},
        {"empty fields", ",\r\n\r\n,", {F(0, 0, ""), F(0, 1, ""), F(1, 0, ""), F(2, 0, "")}},
        {"comma after the end field ends the line",
         "a,b,c\r\n",
         {F(0, 0, "a"), F(0, 1, "b"), F(1, 0, "c")}},
        {"two LFs make one empty range", "\n\n", {F(0, 0, ""), F(0, 1, "")}},
        {"bytes are kept as they are",
         "\0x\x82\xa0 ,\t\xff\r\n"s,
         {F(0, 0, "\0x\x82\xa0 "s), F(0, 1, "\t\xff")}},
        {"257-byte start field", k257 + ",b\r\n", {F(0, 0, k257), F(0, 1, "b")}},
        {"257-byte end field", "a," + k257 + "\r\n", {F(0, 0, "a"), F(0, 1, k257)}},
        {"257 bytes at the end without separator", "a,b\r\n" + k257, {F(0, 0, "a"), F(0, 1, "b")}},
        {"258-byte start field", k258 + ",b\r\n", {}, true},
        {"258-byte end field keeps the fields before",
         "a,b\r\nc," + k258 + "\r\n",
         {F(0, 0, "a"), F(0, 1, "b"), F(1, 0, "c")},
         true},
        {"258 bytes at the end without separator",
         "a,b\r\n" + k258,
         {F(0, 0, "a"), F(0, 1, "b")},
         true},
        {"bytes after the long field are not read", k258 + "\r\n,x\r\n", {}, true},
    };
}

TEST(RangeListTokenizerTest, SplitsEveryCaseIntoItsFields) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        RangeListTokens tokens = TokenizeRangeList(c.bytes);
        EXPECT_EQ(Describe(tokens.fields), Describe(c.fields));
        EXPECT_EQ(WithoutFileLines(tokens.fields), c.fields);
        EXPECT_EQ(tokens.tooLong, c.tooLong);
    }
}

// The file reader feeds the tokenizer in pieces: a "\r" at the end of one
// piece and the "\n" at the start of the next must still be one line end.
TEST(RangeListTokenizerTest, FeedingInPiecesGivesTheSameFieldsAtEverySplit) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        for (std::size_t split = 0; split <= c.bytes.size(); ++split) {
            std::vector<RangeListField> fields;
            RangeListTokenizer tokenizer(
                [&fields](const RangeListField& f) { fields.push_back(f); });
            bool ok = tokenizer.Feed(std::string_view(c.bytes).substr(0, split));
            ok = tokenizer.Feed(std::string_view(c.bytes).substr(split)) && ok;
            EXPECT_EQ(WithoutFileLines(fields), c.fields) << "split at " << split;
            EXPECT_EQ(!ok, c.tooLong) << "split at " << split;
            EXPECT_EQ(tokenizer.TooLong(), c.tooLong) << "split at " << split;
        }
    }
}

TEST(RangeListTokenizerTest, FileLinesCountEveryLineEndAsAnEditorDoes) {
    // CR LF, LF, a lone CR, an empty line, a range split by a lone LF, and a
    // comma after the end field: the line numbers of the fields, in order.
    const std::string bytes = "a,b\r\nc,d\ne,f\r\r\ng\nh\ni,j,k\r\n";
    for (std::size_t split = 0; split <= bytes.size(); ++split) {
        std::string lines;
        RangeListTokenizer tokenizer(
            [&lines](const RangeListField& f) { lines += std::to_string(f.fileLine) + " "; });
        tokenizer.Feed(std::string_view(bytes).substr(0, split));
        tokenizer.Feed(std::string_view(bytes).substr(split));
        EXPECT_EQ(lines, "1 1 2 2 3 3 4 5 6 7 7 7 ") << "split at " << split;
    }
}

TEST(RangeListTokenizerTest, NothingIsTakenAfterAFieldWasTooLong) {
    std::vector<RangeListField> fields;
    RangeListTokenizer tokenizer([&fields](const RangeListField& f) { fields.push_back(f); });
    EXPECT_FALSE(tokenizer.Feed(k258));
    EXPECT_FALSE(tokenizer.Feed("\r\na,b\r\n"));
    EXPECT_TRUE(fields.empty());
}

} // namespace
