#include "platform/win32/RegistryFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane";

std::string Bytes(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes)
        out += static_cast<char>(b);
    return out;
}

std::vector<int> IssueLines(const RegistryFileParse& parse) {
    std::vector<int> lines;
    for (const auto& issue : parse.issues)
        lines.push_back(issue.line);
    return lines;
}

// Whatever the parser understood must survive a write and a second read
// unchanged, and the written text must be stable.
void ExpectStableRoundTrip(const RegistryFile& file) {
    const std::string text = file.Serialize();
    const RegistryFileParse again = RegistryFile::Parse(text);
    EXPECT_TRUE(again.clean()) << text;
    EXPECT_EQ(again.file, file) << text;
    EXPECT_EQ(again.file.Serialize(), text);
}

TEST(RegistryFile, ReadsEveryValueFormOfAWellFormedFile) {
    const std::string text = "\xEF\xBB\xBFREGEDIT4\r\n"
                             "\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane]\r\n"
                             "\"MaxThread\"=dword:0000001B\r\n"
                             "\"Short\" = dword:1b\r\n"
                             "\"IpListFileName\"=\"C:\\\\Tools\\\\\\\"ip\\\".lst\"\r\n"
                             "\"名前\"=\"営業部ｱｲｳ\"\r\n"
                             "@=\"default\"\r\n"
                             "\"Blob\"=hex:00,01,fe,FF\r\n"
                             "\"Empty\"=hex:\r\n"
                             "\"Path\"=hex(2):25,48,00\r\n"
                             "\"None\"=hex(0):\r\n"
                             "\"Wrapped\"=hex:01,02,\\\r\n"
                             "  03,04\r\n";
    RegistryFileParse parse = RegistryFile::Parse(text);
    ASSERT_TRUE(parse.clean()) << (parse.issues.empty() ? parse.error : parse.issues[0].reason);
    ASSERT_EQ(parse.file.keys.size(), 1u);
    const RegistryFileKey& key = parse.file.keys[0];
    EXPECT_EQ(key.path, kKey);

    struct Expected {
        const char* name;
        DWORD type;
        std::string data;
    };
    const Expected expected[] = {
        {"MaxThread", REG_DWORD, Bytes({0x1b, 0, 0, 0})},
        {"short", REG_DWORD, Bytes({0x1b, 0, 0, 0})}, // names ignore letter case
        {"IpListFileName", REG_SZ, std::string("C:\\Tools\\\"ip\".lst\0", 18)},
        {"名前", REG_SZ, std::string("営業部ｱｲｳ") + '\0'},
        {"", REG_SZ, std::string("default\0", 8)},
        {"Blob", REG_BINARY, Bytes({0, 1, 0xfe, 0xff})},
        {"Empty", REG_BINARY, ""},
        {"Path", REG_EXPAND_SZ, Bytes({0x25, 0x48, 0})},
        {"None", REG_NONE, ""},
        {"Wrapped", REG_BINARY, Bytes({1, 2, 3, 4})},
    };
    EXPECT_EQ(key.values.size(), std::size(expected));
    for (const auto& e : expected) {
        const RegistryFileValue* value = key.FindValue(e.name);
        ASSERT_NE(value, nullptr) << e.name;
        EXPECT_EQ(value->type, e.type) << e.name;
        EXPECT_EQ(value->data, e.data) << e.name;
    }
    ExpectStableRoundTrip(parse.file);
}

TEST(RegistryFile, WholeFileIsRejectedOnlyForAWrongHeaderOrBinaryContent) {
    struct Case {
        const char* what;
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"empty file", "", true},
        {"blank lines only", "\n \r\n\t\n", true},
        {"header only", "REGEDIT4", true},
        {"blank lines before the header", "\n\nREGEDIT4\n", true},
        {"header in lower case", "regedit4\n", false},
        {"other format", "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n",
         false},
        {"no header", "[HKEY_LOCAL_MACHINE\\A]\n\"X\"=dword:00000001\n", false},
        {"random text", "hello world", false},
        {"NUL byte after a good start",
         "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n" + std::string(3, '\0'), false},
    };
    for (const auto& c : cases) {
        RegistryFileParse parse = RegistryFile::Parse(c.text);
        EXPECT_EQ(parse.valid, c.valid) << c.what;
        if (!c.valid) {
            EXPECT_FALSE(parse.error.empty()) << c.what;
            EXPECT_TRUE(parse.file.keys.empty()) << c.what;
        } else {
            EXPECT_TRUE(parse.clean()) << c.what;
        }
    }
}

TEST(RegistryFile, LinesNotUnderstoodAreSkippedAndTheRestIsKept) {
    struct Case {
        const char* what;
        std::string body;               // after "REGEDIT4\n[HKLM\A]\n" (lines 1-2)
        std::vector<int> skipped;       // line numbers reported
        std::vector<std::string> names; // values of HKLM\A that remain, in order
    };
    const Case cases[] = {
        {"misspelt type", "\"X\"=dwrod:1\n\"Y\"=dword:2\n", {3}, {"Y"}},
        {"dword too long", "\"X\"=dword:123456789\n", {3}, {}},
        {"dword not hex", "\"X\"=dword:12g4\n", {3}, {}},
        {"unknown escape", "\"X\"=\"C:\\temp\"\n\"Y\"=\"ok\"\n", {3}, {"Y"}},
        {"unterminated text", "\"X\"=\"abc\n", {3}, {}},
        {"text after the closing quote", "\"X\"=\"abc\" junk\n", {3}, {}},
        {"unterminated name", "\"X=dword:1\n", {3}, {}},
        {"missing equals sign", "\"X\" dword:1\n", {3}, {}},
        {"bare word", "MaxThread=10\n", {3}, {}},
        {"comment", "; a note\n\"X\"=dword:1\n", {3}, {"X"}},
        {"value deletion", "\"X\"=-\n", {3}, {}},
        {"bad hex byte", "\"X\"=hex:01,0g\n", {3}, {}},
        {"three-digit hex byte", "\"X\"=hex:001\n", {3}, {}},
        {"empty hex item", "\"X\"=hex:01,,02\n", {3}, {}},
        {"bad hex type", "\"X\"=hex(zz):01\n", {3}, {}},
        {"hex without colon", "\"X\"=hex 01\n", {3}, {}},
        {"continuation at end of file", "\"X\"=hex:01,\\\n", {3}, {}},
        {"continuation into a value line", "\"X\"=hex:01,\\\n\"Y\"=dword:1\n", {3}, {"Y"}},
        {"continued bad list counts as one line", "\"X\"=hex:01,\\\n  123\n", {3}, {}},
        {"later value replaces earlier", "\"X\"=dword:1\n\"x\"=dword:2\n", {}, {"X"}},
    };
    for (const auto& c : cases) {
        const std::string text = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n" + c.body;
        RegistryFileParse parse = RegistryFile::Parse(text);
        ASSERT_TRUE(parse.valid) << c.what;
        EXPECT_EQ(IssueLines(parse), c.skipped) << c.what;
        const RegistryFileKey* key = parse.file.FindKey("HKEY_LOCAL_MACHINE\\A");
        ASSERT_NE(key, nullptr) << c.what;
        std::vector<std::string> names;
        for (const auto& value : key->values)
            names.push_back(value.name);
        EXPECT_EQ(names, c.names) << c.what;
        ExpectStableRoundTrip(parse.file);
    }
    RegistryFileParse later =
        RegistryFile::Parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=dword:1\n\"x\"=dword:2\n");
    EXPECT_EQ(later.file.keys[0].values[0].data, Bytes({2, 0, 0, 0}));
}

TEST(RegistryFile, ValuesOfABadKeyLineNeverLandInAnotherKey) {
    struct Case {
        const char* what;
        const char* keyLine;
    };
    const Case cases[] = {
        {"missing bracket", "[HKEY_LOCAL_MACHINE\\B"},
        {"unknown root", "[HKEY_NOWHERE\\B]"},
        {"empty component", "[HKEY_LOCAL_MACHINE\\\\B]"},
        {"trailing backslash", "[HKEY_LOCAL_MACHINE\\B\\]"},
        {"key deletion", "[-HKEY_LOCAL_MACHINE\\B]"},
        {"text after the bracket", "[HKEY_LOCAL_MACHINE\\B] x"},
        {"empty key", "[]"},
        {"carriage return inside", "[HKEY_LOCAL_MACHINE\\B\rC]"},
        {"no root", "[SOFTWARE\\B]"},
    };
    for (const auto& c : cases) {
        const std::string text =
            std::string("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"Keep\"=dword:1\n") + c.keyLine +
            "\n\"Lost\"=dword:2\n[HKEY_LOCAL_MACHINE\\C]\n" + "\"Other\"=dword:3\n";
        RegistryFileParse parse = RegistryFile::Parse(text);
        ASSERT_TRUE(parse.valid) << c.what;
        EXPECT_EQ(IssueLines(parse), (std::vector<int>{4, 5})) << c.what;
        ASSERT_EQ(parse.file.keys.size(), 2u) << c.what;
        EXPECT_EQ(parse.file.keys[0].values.size(), 1u) << c.what;
        EXPECT_EQ(parse.file.keys[1].values.size(), 1u) << c.what;
        EXPECT_EQ(parse.file.FindKey("HKEY_LOCAL_MACHINE\\A")->FindValue("Lost"), nullptr);
    }
    // A value before any key line has no key to go to.
    RegistryFileParse orphan = RegistryFile::Parse("REGEDIT4\n\"X\"=dword:1\n");
    EXPECT_EQ(IssueLines(orphan), (std::vector<int>{2}));
    EXPECT_TRUE(orphan.file.keys.empty());
}

TEST(RegistryFile, RepeatedKeysJoinAndParentsExist) {
    RegistryFileParse parse =
        RegistryFile::Parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\A]\n\"X\"=dword:1\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\B]\n"
                            "[hkey_local_machine\\SOFTWARE\\a]\n\"Y\"=dword:2\n");
    ASSERT_TRUE(parse.clean());
    ASSERT_EQ(parse.file.keys.size(), 2u);
    EXPECT_EQ(parse.file.keys[0].path, "HKEY_LOCAL_MACHINE\\Software\\A");
    EXPECT_EQ(parse.file.keys[0].values.size(), 2u);
    EXPECT_TRUE(parse.file.KeyExists("HKEY_LOCAL_MACHINE"));
    EXPECT_TRUE(parse.file.KeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE"));
    EXPECT_TRUE(parse.file.KeyExists("HKEY_LOCAL_MACHINE\\software\\b"));
    EXPECT_FALSE(parse.file.KeyExists("HKEY_LOCAL_MACHINE\\Soft"));
    EXPECT_FALSE(parse.file.KeyExists("HKEY_LOCAL_MACHINE\\Software\\A\\Sub"));
    ExpectStableRoundTrip(parse.file);
}

TEST(RegistryFile, WritesTheFormsAnAdministratorExpects) {
    RegistryFile file;
    RegistryFileKey& key = file.CreateKey(kKey);
    key.SetValue("PingTimeout", REG_DWORD, Bytes({0x58, 0x1b, 0, 0}));
    key.SetValue("Neg", REG_DWORD, Bytes({0xff, 0xff, 0xff, 0xff}));
    key.SetValue("IpListFileName", REG_SZ, std::string("/opt/k\"d\\/iplist.lst\0", 21));
    key.SetValue("", REG_SZ, std::string("x\0", 2));
    key.SetValue("Bin", REG_BINARY, Bytes({0xab, 0x00}));
    key.SetValue("Exp", REG_EXPAND_SZ, Bytes({0x41, 0}));
    key.SetValue("Multi", REG_MULTI_SZ, Bytes({0x41, 0, 0}));
    // Forms the quoted text or dword cannot carry fall back to hex(type).
    key.SetValue("NoNul", REG_SZ, "ab");
    key.SetValue("TwoLines", REG_SZ, std::string("a\nb\0", 4));
    key.SetValue("InnerNul", REG_SZ, std::string("a\0b\0", 4));
    key.SetValue("ShortDword", REG_DWORD, Bytes({1, 2}));
    EXPECT_EQ(file.Serialize(), "REGEDIT4\n\n"
                                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane]\n"
                                "\"PingTimeout\"=dword:00001b58\n"
                                "\"Neg\"=dword:ffffffff\n"
                                "\"IpListFileName\"=\"/opt/k\\\"d\\\\/iplist.lst\"\n"
                                "@=\"x\"\n"
                                "\"Bin\"=hex:ab,00\n"
                                "\"Exp\"=hex(2):41,00\n"
                                "\"Multi\"=hex(7):41,00,00\n"
                                "\"NoNul\"=hex(1):61,62\n"
                                "\"TwoLines\"=hex(1):61,0a,62,00\n"
                                "\"InnerNul\"=hex(1):61,00,62,00\n"
                                "\"ShortDword\"=hex(4):01,02\n"
                                "\n");
    ExpectStableRoundTrip(file);
}

TEST(RegistryFile, LongHexListsWrapAndReadBack) {
    RegistryFile file;
    std::string data;
    for (int i = 0; i < 300; ++i)
        data += static_cast<char>(i);
    file.CreateKey(kKey).SetValue("Blob", REG_BINARY, data);
    const std::string text = file.Serialize();
    size_t start = 0;
    int lines = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1, ++lines)
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    EXPECT_GT(lines, 10);
    ExpectStableRoundTrip(file);
}

TEST(RegistryFile, EveryTruncationOfAFileParsesSafelyAndStably) {
    RegistryFile file;
    RegistryFileKey& key = file.CreateKey(kKey);
    key.SetValue("MaxThread", REG_DWORD, Bytes({10, 0, 0, 0}));
    key.SetValue("IpListFileName", REG_SZ, std::string("/opt/\"kd\"/iplist.lst\0", 21));
    key.SetValue("Blob", REG_BINARY, std::string(40, '\x5a'));
    file.CreateKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Other");
    const std::string text = file.Serialize();
    for (size_t n = 0; n <= text.size(); ++n) {
        RegistryFileParse parse = RegistryFile::Parse(text.substr(0, n));
        ASSERT_EQ(parse.valid, n == 0 || n >= 8) << n; // a cut header is not REGEDIT4
        ExpectStableRoundTrip(parse.file);
    }
}

} // namespace
