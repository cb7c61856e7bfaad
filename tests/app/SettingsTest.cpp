#include "app/RegistryValue.h"
#include "app/RunLog.h"
#include "app/ScanSettings.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/TempDir.h"

#include "tests/support/FileSizeLimit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

const std::string kSection = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane]\n";
const char* const kFailureText = "ﾚｼﾞｽﾄﾘにｱｸｾｽできませんでした。";

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegistrySetStorePath(store);
        ScanSettings = ScanSettingsRecord{};
        // Letter case matters here: the default list file must use the real
        // directory, not the lower-cased text.
        ScanSettings.ProgramDirectoryPath = dir.file("Prog/");
        ScanSettings.ProgramDirectory = dir.file("prog/");
        ASSERT_TRUE(RunLog::Open(dir.path()));
    }
    void TearDown() override {
        RunLog::Close();
        RegistrySetStorePath("");
        ScanSettings = ScanSettingsRecord{};
    }

    void StoreValues(const std::string& lines) {
        TempDir::WriteFile(store, "REGEDIT4\n\n" + kSection + lines + "\n");
    }
    std::string LogAfterHeader() {
        RunLog::Close();
        return TempDir::ReadFile(dir.file("vopal.log")).substr(std::string(RunLog::kHeader).size());
    }
    std::string DefaultListFile() const { return dir.file("Prog/iplist.lst"); }
    void ExpectDefaults(const char* what) {
        EXPECT_EQ(ScanSettings.PingTimeout, 7000) << what;
        EXPECT_EQ(ScanSettings.MaxThread, 10) << what;
        EXPECT_EQ(ScanSettings.SafeMode, 0) << what;
        EXPECT_EQ(ScanSettings.IgnoreNicVendorId, 0) << what;
        EXPECT_EQ(ScanSettings.IgnoreWorkstationService, 0) << what;
        EXPECT_EQ(ScanSettings.DontDeleteUnresolvedAddress, 0) << what;
        EXPECT_EQ(ScanSettings.IpListFileName, DefaultListFile()) << what;
    }

    TempDir dir;
    std::string store = dir.file("registry.reg");
    MessageBoxRecorder boxes;
};

TEST_F(SettingsTest, NothingStoredGivesTheDefaults) {
    struct Case {
        const char* what;
        bool write;
        std::string text;
    };
    const Case cases[] = {
        {"no file", false, ""},
        {"empty file", true, ""},
        {"other key only", true,
         "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"MaxThread\"=dword:5\n"},
        {"empty key", true, "REGEDIT4\n" + kSection},
        {"bad numbers", true,
         "REGEDIT4\n" + kSection + "\"MaxThread\"=dword:xyz\n\"PingTimeout\"=\"1\n"},
    };
    for (const auto& c : cases) {
        ScanSettings.PingTimeout = ScanSettings.MaxThread = 99;
        if (c.write)
            TempDir::WriteFile(store, c.text);
        LoadSettings();
        ExpectDefaults(c.what);
    }
    EXPECT_TRUE(SettingsLoaded());
    EXPECT_EQ(boxes.count(), 0u);
    std::string expectedLog;
    for (size_t i = 0; i < std::size(cases); ++i)
        expectedLog += "PING TIMEOUT:7000\n";
    EXPECT_EQ(LogAfterHeader(), expectedLog);
}

TEST_F(SettingsTest, ACorruptFileGivesDefaultsAndIsKeptAsideAtSave) {
    const std::string original = "\x89PNG\r\n\x1a\n not settings at all";
    TempDir::WriteFile(store, original);
    LoadSettings();
    ExpectDefaults("corrupt");
    EXPECT_EQ(TempDir::ReadFile(store), original);

    ScanSettings.MaxThread = 12;
    SaveSettings();
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(TempDir::ReadFile(store + ".bad"), original);
    ScanSettings = ScanSettingsRecord{};
    LoadSettings();
    EXPECT_EQ(ScanSettings.MaxThread, 12);
    EXPECT_EQ(ScanSettings.PingTimeout, 7000);
}

TEST_F(SettingsTest, StoredValuesAreUsedWithoutLimitsAndWrittenBackUnchanged) {
    StoreValues("\"MaxThread\"=dword:00000028\n"
                "\"PingTimeout\"=dword:00000032\n"
                "\"SafeMode\"=dword:00000002\n"
                "\"IgnoreNicVendorId\"=dword:00000001\n"
                "\"IgnoreWorkstationService\"=dword:00000001\n"
                "\"DontDeleteUnresolvedAddress\"=dword:ffffffff\n"
                "\"IpListFileName\"=\"/srv/レンジ/ranges.lst\"\n");
    LoadSettings();
    EXPECT_EQ(ScanSettings.MaxThread, 40);
    EXPECT_EQ(ScanSettings.PingTimeout, 50);
    EXPECT_EQ(ScanSettings.SafeMode, 2);
    EXPECT_FALSE(IsOn(ScanSettings.SafeMode));
    EXPECT_EQ(ScanSettings.IgnoreNicVendorId, 1);
    EXPECT_EQ(ScanSettings.IgnoreWorkstationService, 1);
    EXPECT_EQ(ScanSettings.DontDeleteUnresolvedAddress, -1);
    EXPECT_EQ(ScanSettings.IpListFileName, "/srv/レンジ/ranges.lst");
    EXPECT_EQ(LogAfterHeader(), "PING TIMEOUT:50\n");

    const std::string before = TempDir::ReadFile(store);
    SaveSettings();
    EXPECT_EQ(boxes.count(), 0u);
    // Same values, same places: the file reads back as it was written.
    EXPECT_EQ(TempDir::ReadFile(store), before);
}

TEST_F(SettingsTest, AnEmptyStoredListFileNameStaysEmpty) {
    StoreValues("\"IpListFileName\"=\"\"\n");
    LoadSettings();
    EXPECT_EQ(ScanSettings.IpListFileName, "");
    SaveSettings();
    EXPECT_NE(TempDir::ReadFile(store).find("\"IpListFileName\"=\"\"\n"), std::string::npos);
}

TEST_F(SettingsTest, ANumberStoredAsShortTextIsReadAsThatText) {
    struct Case {
        const char* stored;
        int expected;
    };
    const Case cases[] = {
        {"\"12\"", 12},        {"\"123\"", 123},  {"\"-5\"", -5},
        {"\"7x\"", 7},         {"\"abc\"", 0},    {"\"\"", 0}, // fits, but holds no digits
        {"\"1234\"", 10},      {"\"99999\"", 10},              // too long for a number: default
        {"hex:31,32", 12},                                     // binary data is text too
        {"hex(4):2c,01", 300},                                 // a short dword reads as its bytes
    };
    for (const auto& c : cases) {
        StoreValues(std::string("\"MaxThread\"=") + c.stored + "\n");
        LoadSettings();
        EXPECT_EQ(ScanSettings.MaxThread, c.expected) << c.stored;
    }
}

TEST_F(SettingsTest, AListFileNameLongerThan255CharactersIsNotRead) {
    const std::string longest = "/" + std::string(254, 'a');
    StoreValues("\"IpListFileName\"=\"" + longest + "\"\n");
    LoadSettings();
    EXPECT_EQ(ScanSettings.IpListFileName, longest);
    StoreValues("\"IpListFileName\"=\"" + longest + "b\"\n");
    LoadSettings();
    EXPECT_EQ(ScanSettings.IpListFileName, DefaultListFile());
}

TEST_F(SettingsTest, SaveWritesTheSevenValuesInItsOrderAndLoadReadsThemBack) {
    LoadSettings();
    ScanSettings.PingTimeout = 1500;
    ScanSettings.MaxThread = 15;
    ScanSettings.SafeMode = 1;
    ScanSettings.IgnoreNicVendorId = 0;
    ScanSettings.IgnoreWorkstationService = 1;
    ScanSettings.DontDeleteUnresolvedAddress = 1;
    ScanSettings.IpListFileName = "/home/a \"b\"\\c.lst";
    const ScanSettingsRecord saved = ScanSettings;
    SaveSettings();
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(TempDir::ReadFile(store), "REGEDIT4\n\n" + kSection +
                                            "\"DontDeleteUnresolvedAddress\"=dword:00000001\n"
                                            "\"IgnoreWorkstationService\"=dword:00000001\n"
                                            "\"IgnoreNicVendorId\"=dword:00000000\n"
                                            "\"SafeMode\"=dword:00000001\n"
                                            "\"MaxThread\"=dword:0000000f\n"
                                            "\"PingTimeout\"=dword:000005dc\n"
                                            "\"IpListFileName\"=\"/home/a \\\"b\\\"\\\\c.lst\"\n"
                                            "\n");
    ScanSettings = ScanSettingsRecord{};
    ScanSettings.ProgramDirectoryPath = dir.file("Prog/");
    LoadSettings();
    EXPECT_EQ(ScanSettings.PingTimeout, saved.PingTimeout);
    EXPECT_EQ(ScanSettings.MaxThread, saved.MaxThread);
    EXPECT_EQ(ScanSettings.SafeMode, saved.SafeMode);
    EXPECT_EQ(ScanSettings.IgnoreNicVendorId, saved.IgnoreNicVendorId);
    EXPECT_EQ(ScanSettings.IgnoreWorkstationService, saved.IgnoreWorkstationService);
    EXPECT_EQ(ScanSettings.DontDeleteUnresolvedAddress, saved.DontDeleteUnresolvedAddress);
    EXPECT_EQ(ScanSettings.IpListFileName, saved.IpListFileName);
}

std::vector<std::string> Captions(const MessageBoxRecorder& boxes) {
    std::vector<std::string> captions;
    for (const auto& box : boxes.boxes()) {
        EXPECT_EQ(box.text, kFailureText);
        EXPECT_EQ(box.type, MB_OK | MB_ICONERROR);
        EXPECT_EQ(box.owner, nullptr);
        captions.push_back(box.caption);
    }
    return captions;
}

TEST_F(SettingsTest, WithoutAWritableStoreEachOfTheSevenWritesTellsTheUser) {
    LoadSettings();
    // Inside a regular file: no directory can be made there, even by root.
    TempDir::WriteFile(dir.file("plain"), "x");
    RegistrySetStorePath(dir.file("plain/registry.reg"));
    SaveSettings();
    EXPECT_EQ(Captions(boxes), std::vector<std::string>(7, "注意 A01"));
    EXPECT_EQ(TempDir::ReadFile(dir.file("plain")), "x");
}

TEST_F(SettingsTest, WhenTheKeyExistsButValuesCannotBeWrittenTheCaptionsNameTheKind) {
    LoadSettings();
    SaveSettings();
    const std::string before = TempDir::ReadFile(store);
    ASSERT_FALSE(before.empty());
    ScanSettings.MaxThread = 3;
    ScanSettings.IpListFileName = std::string(200, 'z');
    {
        FileSizeLimit limit(before.size() / 2);
        SaveSettings();
    }
    std::vector<std::string> expected(6, "注意 A02");
    expected.push_back("注意 A03");
    EXPECT_EQ(Captions(boxes), expected);
    EXPECT_EQ(TempDir::ReadFile(store), before); // nothing half-written
}

TEST_F(SettingsTest, ReadRegistryValueKeepsToItsLimitsAndAlwaysEndsTheText) {
    StoreValues(
        "\"Bin100\"=hex:" +
        [] {
            std::string list;
            for (int i = 0; i < 100; ++i)
                list += i ? ",41" : "41";
            return list;
        }() +
        "\n\"Bin101\"=hex:41" +
        [] {
            std::string list;
            for (int i = 1; i < 101; ++i)
                list += ",41";
            return list;
        }() +
        "\n\"Bin\"=hex:41,42\n\"Expand\"=hex(2):25,48,25,00\n\"Neg\"=dword:fffffff6\n");
    const char* key = SettingsKey;
    char buffer[kRegistryValueBufferSize];
    std::memset(buffer, 'Q', sizeof buffer);
    ASSERT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, key, "Bin", kRegistryKindBinary, buffer));
    EXPECT_STREQ(buffer, "AB");
    ASSERT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, key, "Bin100", kRegistryKindBinary, buffer));
    EXPECT_EQ(std::string(buffer), std::string(100, 'A'));
    EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, key, "Bin101", kRegistryKindBinary, buffer));
    EXPECT_STREQ(buffer, "");
    ASSERT_TRUE(
        ReadRegistryValue(HKEY_LOCAL_MACHINE, key, "Expand", kRegistryKindExpandText, buffer));
    EXPECT_STREQ(buffer, "%H%");
    ASSERT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, key, "Neg", kRegistryKindNumber, buffer));
    EXPECT_STREQ(buffer, "-10");
    EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, key, "Missing", kRegistryKindText, buffer));
    EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere", "Neg",
                                   kRegistryKindNumber, buffer));

    char small[100];
    std::memset(small, 'Q', sizeof small);
    EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, key, "Bin", kRegistryKindBinary, small,
                                   sizeof small));
    EXPECT_STREQ(small, "");
}

TEST_F(SettingsTest, WriteRegistryValueStoresEachKindAsItsType) {
    const char* key = SettingsKey;
    EXPECT_TRUE(WriteRegistryValue(key, "Num", kRegistryKindNumber, -2));
    EXPECT_TRUE(WriteRegistryValue(key, "Text", kRegistryKindText, "ab"));
    EXPECT_TRUE(WriteRegistryValue(key, "Bin", kRegistryKindBinary, "ab"));
    EXPECT_TRUE(WriteRegistryValue(key, "NumAsText", kRegistryKindText, 42));
    // Kinds without a write of their own write nothing and succeed.
    EXPECT_TRUE(WriteRegistryValue(key, "Expand", kRegistryKindExpandText, "x"));
    EXPECT_TRUE(WriteRegistryValue(key, "Other", 9, "x"));
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(TempDir::ReadFile(store), "REGEDIT4\n\n" + kSection +
                                            "\"Num\"=dword:fffffffe\n"
                                            "\"Text\"=\"ab\"\n"
                                            "\"Bin\"=hex:61,62,00\n"
                                            "\"NumAsText\"=\"42\"\n"
                                            "\n");
}

} // namespace
