#include "core/settings/RegistryValue.h"
#include "core/settings/RunLog.h"
#include "core/settings/ScanSettings.h"
#include "core/settings/SettingsStore.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/MessagePrinters.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

const std::string kSection = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane]\n";

using Stored = std::tuple<int, int, int, int, int, int, std::string>;

// The seven stored fields, in the order the record declares them.
auto Fields(ScanSettingsRecord& s) {
    return std::tie(s.PingTimeout, s.MaxThread, s.SafeMode, s.IgnoreNicVendorId,
                    s.IgnoreWorkstationService, s.DontDeleteUnresolvedAddress, s.IpListFileName);
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegistrySetStorePath(store);
        settings = ScanSettingsRecord{};
        // Letter case matters here: the default list file must use the real
        // directory, not the lower-cased text.
        settings.ProgramDirectoryPath = dir.file("Prog/");
        settings.ProgramDirectory = dir.file("prog/");
        ASSERT_TRUE(RunLog::Open(dir.path()));
    }
    void TearDown() override {
        RunLog::Close();
        RegistrySetStorePath("");
        settings = ScanSettingsRecord{};
    }

    // The store as the application uses it, on the fixture's settings.
    void LoadSettings() { m_store.Load(settings); }
    // What the save tells is kept in `told`, as the application shows it.
    void SaveSettings() {
        for (const UserMessage& message : m_store.Save(settings))
            told.push_back(message);
    }
    bool SettingsLoaded() const { return m_store.Loaded(); }

    void StoreValues(const std::string& lines) {
        TempDir::WriteFile(store, "REGEDIT4\n\n" + kSection + lines + "\n");
    }
    std::string LogAfterHeader() {
        RunLog::Close();
        return TempDir::ReadFile(dir.file("vopal.log")).substr(std::string(RunLog::kHeader).size());
    }
    std::string DefaultListFile() const { return dir.file("Prog/iplist.lst"); }
    Stored Defaults() const { return {7000, 10, 0, 0, 0, 0, DefaultListFile()}; }

    TempDir dir;
    std::string store = dir.file("registry.reg");
    std::vector<UserMessage> told;
    ScanSettingsRecord settings;
    SettingsStore m_store;
};

TEST_F(SettingsTest, NothingStoredGivesTheDefaults) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"no file", std::nullopt},
        {"empty file", ""},
        {"other key only",
         "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"MaxThread\"=dword:5\n"},
        {"empty key", "REGEDIT4\n" + kSection},
        {"bad numbers", "REGEDIT4\n" + kSection + "\"MaxThread\"=dword:xyz\n\"PingTimeout\"=\"1\n"},
    };
    std::string expectedLog;
    for (const auto& [what, text] : cases) {
        settings.PingTimeout = settings.MaxThread = 99;
        if (text)
            TempDir::WriteFile(store, *text);
        LoadSettings();
        EXPECT_EQ(Stored(Fields(settings)), Defaults()) << what;
        expectedLog += "PING TIMEOUT:7000\n";
    }
    EXPECT_TRUE(SettingsLoaded());
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(LogAfterHeader(), expectedLog);
}

TEST_F(SettingsTest, ACorruptFileGivesDefaultsAndIsKeptAsideAtSave) {
    const std::string original = "\x89PNG\r\n\x1a\n not settings at all";
    TempDir::WriteFile(store, original);
    LoadSettings();
    EXPECT_EQ(Stored(Fields(settings)), Defaults());
    EXPECT_EQ(TempDir::ReadFile(store), original);

    settings.MaxThread = 12;
    SaveSettings();
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(TempDir::ReadFile(store + ".bad"), original);
    settings = ScanSettingsRecord{};
    LoadSettings();
    EXPECT_EQ(settings.MaxThread, 12);
    EXPECT_EQ(settings.PingTimeout, 7000);
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
    EXPECT_EQ(Stored(Fields(settings)), Stored(50, 40, 2, 1, 1, -1, "/srv/レンジ/ranges.lst"));
    EXPECT_FALSE(IsOn(settings.SafeMode));
    EXPECT_EQ(LogAfterHeader(), "PING TIMEOUT:50\n");

    const std::string before = TempDir::ReadFile(store);
    SaveSettings();
    EXPECT_TRUE(told.empty());
    // Same values, same places: the file reads back as it was written.
    EXPECT_EQ(TempDir::ReadFile(store), before);
}

TEST_F(SettingsTest, StoredTextIsReadUpToItsLimitAndWhatIsNoNumberTakesTheDefault) {
    // A value that is there but is no count is never read as 0: the default
    // applies and the log says so, since it is written back at shutdown.
    const char* const kNoNumber = "設定値 MaxThread は数値として読めないため、既定値 10 を使います。\n";
    const std::tuple<std::string, int, bool> numbers[] = {
        {"\"12\"", 12, false},      {"\"123\"", 123, false},
        {"\"-5\"", 10, true},       {"\"7x\"", 10, true},
        {"\"abc\"", 10, true},      {"\"\"", 10, true},
        {"\"1234\"", 10, true},     {"\"99999\"", 10, true}, // too long to read
        {"hex:31,32", 12, false},     // binary data is text too
        {"hex(4):2c,01", 300, false}, // a short dword reads as its bytes
    };
    for (const auto& [stored, expected, logged] : numbers) {
        StoreValues("\"MaxThread\"=" + stored + "\n");
        ASSERT_TRUE(RunLog::Open(dir.path()));
        LoadSettings();
        EXPECT_EQ(settings.MaxThread, expected) << stored;
        EXPECT_EQ(LogAfterHeader(), (logged ? kNoNumber : "") + std::string("PING TIMEOUT:7000\n"))
            << stored;
    }
    // A time-out of days would hold every probe for days: ten minutes at most.
    const std::tuple<std::string, int, std::string> timeouts[] = {
        {"dword:7fffffff", 600000,
         "PingTimeout 2147483647 は長すぎるため、600000 ミリ秒として使います。\n"},
        {"dword:000927c1", 600000,
         "PingTimeout 600001 は長すぎるため、600000 ミリ秒として使います。\n"},
        {"dword:000927c0", 600000, ""},
    };
    for (const auto& [stored, expected, logged] : timeouts) {
        StoreValues("\"PingTimeout\"=" + stored + "\n");
        ASSERT_TRUE(RunLog::Open(dir.path()));
        LoadSettings();
        EXPECT_EQ(settings.PingTimeout, expected) << stored;
        EXPECT_EQ(LogAfterHeader(), logged + "PING TIMEOUT:600000\n") << stored;
    }
    // A list file name of up to 255 characters is read; an empty one stays empty.
    const std::string longest = "/" + std::string(254, 'a');
    const std::pair<std::string, std::string> names[] = {
        {longest, longest}, {longest + "b", DefaultListFile()}, {"", ""}};
    for (const auto& [stored, expected] : names) {
        StoreValues("\"IpListFileName\"=\"" + stored + "\"\n");
        LoadSettings();
        EXPECT_EQ(settings.IpListFileName, expected) << stored.size();
    }
    SaveSettings();
    EXPECT_NE(TempDir::ReadFile(store).find("\"IpListFileName\"=\"\"\n"), std::string::npos);
}

TEST_F(SettingsTest, SaveWritesTheSevenValuesInItsOrderAndLoadReadsThemBack) {
    LoadSettings();
    const Stored saved(1500, 15, 1, 0, 1, 1, "/home/a \"b\"\\c.lst");
    Fields(settings) = saved;
    SaveSettings();
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(TempDir::ReadFile(store), "REGEDIT4\n\n" + kSection +
                                            "\"DontDeleteUnresolvedAddress\"=dword:00000001\n"
                                            "\"IgnoreWorkstationService\"=dword:00000001\n"
                                            "\"IgnoreNicVendorId\"=dword:00000000\n"
                                            "\"SafeMode\"=dword:00000001\n"
                                            "\"MaxThread\"=dword:0000000f\n"
                                            "\"PingTimeout\"=dword:000005dc\n"
                                            "\"IpListFileName\"=\"/home/a \\\"b\\\"\\\\c.lst\"\n"
                                            "\n");
    settings = ScanSettingsRecord{};
    settings.ProgramDirectoryPath = dir.file("Prog/");
    LoadSettings();
    EXPECT_EQ(Stored(Fields(settings)), saved);
}

// Every message is the access failure, an error; gives their captions.
std::vector<std::string> Captions(const std::vector<UserMessage>& told) {
    std::vector<std::string> captions;
    for (const UserMessage& message : told) {
        EXPECT_EQ(message.text, "ﾚｼﾞｽﾄﾘにｱｸｾｽできませんでした。");
        EXPECT_EQ(message.type, MB_OK | MB_ICONERROR);
        captions.push_back(message.caption);
    }
    return captions;
}

TEST_F(SettingsTest, WithoutAWritableStoreEachOfTheSevenWritesTellsTheUser) {
    LoadSettings();
    settings.FastScan = 1; // written too, and failing without a box of its own
    // Inside a regular file: no directory can be made there, even by root.
    TempDir::WriteFile(dir.file("plain"), "x");
    RegistrySetStorePath(dir.file("plain/registry.reg"));
    SaveSettings();
    EXPECT_EQ(Captions(told), std::vector<std::string>(7, "注意 A01"));
    EXPECT_EQ(TempDir::ReadFile(dir.file("plain")), "x");
}

// Runs `step` on a thread of its own. Should it wait on the FIFO at `fifo`,
// that counts as a failure, and writers that come and go let it through.
void RunWithoutWaitingOn(const std::string& fifo, std::function<void()> step) {
    auto running = std::async(std::launch::async, step);
    if (running.wait_for(std::chrono::seconds(30)) == std::future_status::ready)
        return;
    ADD_FAILURE() << "waits on the FIFO";
    while (running.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
        close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
}

TEST_F(SettingsTest, AnUnreadableStoreIsLoggedAtStartUpGivesTheDefaultsAndIsNeverReplaced) {
    // A FIFO: opening it to read would wait for a writer for ever.
    ASSERT_EQ(mkfifo(store.c_str(), 0600), 0);
    RunWithoutWaitingOn(store, [this] { LoadSettings(); });
    EXPECT_EQ(Stored(Fields(settings)), Defaults());
    RunWithoutWaitingOn(store, [this] { SaveSettings(); });
    EXPECT_EQ(Captions(told), std::vector<std::string>(7, "注意 A01"));
    struct stat st;
    ASSERT_EQ(lstat(store.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // A file we may not read (as nobody, so that the bits apply to root too).
    ASSERT_EQ(unlink(store.c_str()), 0);
    StoreValues("\"MaxThread\"=dword:00000005\n");
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(store.c_str(), 0), 0);
    const bool switched = geteuid() == 0 && setegid(65534) == 0 && seteuid(65534) == 0;
    LoadSettings();
    ASSERT_TRUE(!switched || (seteuid(0) == 0 && setegid(0) == 0));
    EXPECT_EQ(settings.MaxThread, 10);
    const std::string notRegular =
        "」は通常のファイルではありません(名前付きパイプ)。既定の設定を使います。\n";
    const std::string denied = "」を読む権限がありません。既定の設定を使います。\n";
    EXPECT_EQ(LogAfterHeader(), "設定ファイル「" + store + notRegular + "PING TIMEOUT:7000\n" +
                                    "設定ファイル「" + store + denied + "PING TIMEOUT:7000\n");
}

TEST_F(SettingsTest, WhenTheKeyExistsButValuesCannotBeWrittenTheCaptionsNameTheKind) {
    LoadSettings();
    SaveSettings();
    const std::string before = TempDir::ReadFile(store);
    ASSERT_FALSE(before.empty());
    settings.MaxThread = 3;
    settings.IpListFileName = std::string(200, 'z');
    settings.FastScan = 1; // its failed write shows no eighth box
    {
        FileSizeLimit limit(before.size() / 2);
        SaveSettings();
    }
    std::vector<std::string> expected(6, "注意 A02");
    expected.push_back("注意 A03");
    EXPECT_EQ(Captions(told), expected);
    EXPECT_EQ(TempDir::ReadFile(store), before); // nothing half-written
}

// The FastScan line of the store file, or empty when it has none.
std::string FastScanLine(const std::string& file) {
    const std::string text = TempDir::ReadFile(file);
    const std::size_t at = text.find("\"FastScan\"=");
    return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
}

TEST_F(SettingsTest, FastScanIsReadLikeTheSwitchesAndWrittenOnlyWhenChosenOrChanged) {
    const char* const kNoNumber =
        "設定値 FastScan は数値として読めないため、既定値 0 を使います。\n";
    const struct Case {
        const char* stored; // the FastScan line before; null: none
        int loaded;
        bool logged;
        int saved;         // the value at shutdown
        const char* after; // the FastScan line after Save; "": none
    } cases[] = {
        {nullptr, 0, false, 0, ""}, // never chosen: the store keeps its seven values
        {nullptr, 0, false, 1, "\"FastScan\"=dword:00000001"},
        {"\"FastScan\"=dword:00000001", 1, false, 0, "\"FastScan\"=dword:00000000"},
        {"\"FastScan\"=dword:00000000", 0, false, 0, "\"FastScan\"=dword:00000000"},
        // An administrator's value that the dialog never touched stays as it is.
        {"\"FastScan\"=dword:00000002", 2, false, 2, "\"FastScan\"=dword:00000002"},
        {"\"FastScan\"=\"1\"", 1, false, 1, "\"FastScan\"=dword:00000001"},
        // No number: the default, and the stored text is replaced by it.
        {"\"FastScan\"=\"x\"", 0, true, 0, "\"FastScan\"=dword:00000000"},
        {"\"FastScan\"=\"-1\"", 0, true, 1, "\"FastScan\"=dword:00000001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.stored ? c.stored : "(none)") + " saved " +
                     std::to_string(c.saved));
        StoreValues(c.stored ? c.stored + std::string("\n") : "");
        ASSERT_TRUE(RunLog::Open(dir.path()));
        settings.FastScan = 7;
        LoadSettings();
        EXPECT_EQ(settings.FastScan, c.loaded);
        EXPECT_EQ(LogAfterHeader(),
                  (c.logged ? kNoNumber : "") + std::string("PING TIMEOUT:7000\n"));

        settings.FastScan = c.saved;
        SaveSettings();
        EXPECT_TRUE(told.empty());
        EXPECT_EQ(FastScanLine(store), c.after);
        settings.FastScan = 7;
        LoadSettings();
        EXPECT_EQ(settings.FastScan, c.saved);
    }
}

TEST_F(SettingsTest, RecordScansIsOffUnlessChosenAndWrittenOnlyWhenChosenOrChanged) {
    auto line = [this] {
        const std::string text = TempDir::ReadFile(store);
        const std::size_t at = text.find("\"RecordScans\"=");
        return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
    };
    const struct Case {
        const char* stored; // the RecordScans line before; null: none
        int loaded;
        int saved;         // the value at shutdown
        const char* after; // the RecordScans line after Save; "": none
    } cases[] = {
        {nullptr, 0, 0, ""}, // never chosen: the store gets no line
        {nullptr, 0, 1, "\"RecordScans\"=dword:00000001"},
        {"\"RecordScans\"=dword:00000001", 1, 1, "\"RecordScans\"=dword:00000001"},
        {"\"RecordScans\"=dword:00000001", 1, 0, "\"RecordScans\"=dword:00000000"},
        {"\"RecordScans\"=dword:00000002", 2, 2, "\"RecordScans\"=dword:00000002"},
        {"\"RecordScans\"=\"x\"", 0, 0, "\"RecordScans\"=dword:00000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.stored ? c.stored : "(none)") + " saved " +
                     std::to_string(c.saved));
        StoreValues(c.stored ? c.stored + std::string("\n") : "");
        settings.RecordScans = 7;
        LoadSettings();
        EXPECT_EQ(settings.RecordScans, c.loaded);
        settings.RecordScans = c.saved;
        SaveSettings();
        EXPECT_TRUE(told.empty());
        EXPECT_EQ(line(), c.after);
    }
}

TEST_F(SettingsTest, ReadRegistryValueKeepsToItsLimitsAndAlwaysEndsTheText) {
    auto bytesOfA = [](int count) {
        std::string list = "41";
        for (int i = 1; i < count; ++i)
            list += ",41";
        return list;
    };
    StoreValues("\"Bin100\"=hex:" + bytesOfA(100) + "\n\"Bin101\"=hex:" + bytesOfA(101) +
                "\n\"Bin\"=hex:41,42\n\"Expand\"=hex(2):25,48,25,00\n\"Neg\"=dword:fffffff6\n");
    const struct {
        const char* key;
        const char* name;
        int kind;
        bool ok;
        std::string text; // also after a failure: the buffer then holds empty text
    } reads[] = {
        {SettingsKey, "Bin", kRegistryKindBinary, true, "AB"},
        {SettingsKey, "Bin100", kRegistryKindBinary, true, std::string(100, 'A')},
        {SettingsKey, "Bin101", kRegistryKindBinary, false, ""},
        {SettingsKey, "Expand", kRegistryKindExpandText, true, "%H%"},
        {SettingsKey, "Neg", kRegistryKindNumber, true, "-10"},
        {SettingsKey, "Missing", kRegistryKindText, false, ""},
        {"SOFTWARE\\Nowhere", "Neg", kRegistryKindNumber, false, ""},
    };
    for (const auto& r : reads) {
        char buffer[kRegistryValueBufferSize];
        std::memset(buffer, 'Q', sizeof buffer);
        EXPECT_EQ(ReadRegistryValue(HKEY_LOCAL_MACHINE, r.key, r.name, r.kind, buffer), r.ok)
            << r.name;
        EXPECT_EQ(std::string(buffer, strnlen(buffer, sizeof buffer)), r.text) << r.name;
    }
    char small[100];
    std::memset(small, 'Q', sizeof small);
    EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, SettingsKey, "Bin", kRegistryKindBinary,
                                   small, sizeof small));
    EXPECT_STREQ(small, "");
}

// Done, and nothing to tell.
bool Written(const Outcome& outcome) {
    EXPECT_FALSE(outcome.message.has_value()) << outcome.message->caption;
    return outcome.ok;
}

TEST_F(SettingsTest, WriteRegistryValueStoresEachKindAsItsType) {
    const char* key = SettingsKey;
    EXPECT_TRUE(Written(WriteRegistryValue(key, "Num", kRegistryKindNumber, -2)));
    EXPECT_TRUE(Written(WriteRegistryValue(key, "Text", kRegistryKindText, "ab")));
    EXPECT_TRUE(Written(WriteRegistryValue(key, "Bin", kRegistryKindBinary, "ab")));
    EXPECT_TRUE(Written(WriteRegistryValue(key, "NumAsText", kRegistryKindText, 42)));
    // Kinds without a write of their own write nothing and succeed.
    EXPECT_TRUE(Written(WriteRegistryValue(key, "Expand", kRegistryKindExpandText, "x")));
    EXPECT_TRUE(Written(WriteRegistryValue(key, "Other", 9, "x")));
    EXPECT_TRUE(WriteRegistryNumberQuietly(key, "Quiet", 0x01020304));
    EXPECT_EQ(TempDir::ReadFile(store), "REGEDIT4\n\n" + kSection +
                                            "\"Num\"=dword:fffffffe\n"
                                            "\"Text\"=\"ab\"\n"
                                            "\"Bin\"=hex:61,62,00\n"
                                            "\"NumAsText\"=\"42\"\n"
                                            "\"Quiet\"=dword:01020304\n"
                                            "\n");
}

// A failed write's message names the step that failed: creating the key,
// else writing a value of the kind asked for (kinds that write nothing
// cannot fail there).
TEST_F(SettingsTest, AFailedWriteGivesTheErrorWithTheStepInItsCaption) {
    const struct {
        int kind;
        const char* keyMissing; // the caption when the key cannot be made
        const char* valueFails; // when the key is there but the value cannot be written
    } cases[] = {
        {kRegistryKindNumber, "注意 A01", "注意 A02"},
        {kRegistryKindText, "注意 A01", "注意 A03"},
        {kRegistryKindBinary, "注意 A01", "注意 A07"},
        {kRegistryKindExpandText, "注意 A01", nullptr},
        {9, "注意 A01", nullptr},
    };
    const UserMessage failure{"ﾚｼﾞｽﾄﾘにｱｸｾｽできませんでした。", "", MB_OK | MB_ICONERROR};
    auto expect = [&](const Outcome& outcome, const char* caption) {
        EXPECT_EQ(outcome.ok, caption == nullptr);
        UserMessage expected = failure;
        expected.caption = caption ? caption : "";
        EXPECT_EQ(outcome.message, caption ? std::optional(expected) : std::nullopt);
    };
    TempDir::WriteFile(dir.file("plain"), "x");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        // Inside a regular file: the key's store cannot be made.
        RegistrySetStorePath(dir.file("plain/registry.reg"));
        expect(WriteRegistryValue(SettingsKey, "V", c.kind, "1"), c.keyMissing);
        RegistrySetStorePath(store);
        ASSERT_TRUE(Written(WriteRegistryValue(SettingsKey, "Pad", kRegistryKindNumber, 1)));
        const std::string before = TempDir::ReadFile(store);
        FileSizeLimit limit(before.size());
        expect(WriteRegistryValue(SettingsKey, "V", c.kind, std::string(200, '7').c_str()),
               c.valueFails);
    }
}

} // namespace
