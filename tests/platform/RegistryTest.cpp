#include "platform/win32/Registry.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

const char* const kSubKey = "SOFTWARE\\BRELLOW\\KestruneDurvane";
const std::string kHead = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane]\n";

std::string Dword(DWORD value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

LONG CreateKey(const char* sub, HKEY* key, DWORD* disposition = nullptr,
               HKEY root = HKEY_LOCAL_MACHINE) {
    return RegCreateKeyExA(root, sub, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key,
                           disposition);
}

LONG OpenKey(const char* sub, HKEY* key, HKEY root = HKEY_LOCAL_MACHINE) {
    return RegOpenKeyExA(root, sub, 0, KEY_QUERY_VALUE, key);
}

LONG Set(const char* name, DWORD type, const std::string& data) {
    HKEY key = nullptr;
    LONG code = CreateKey(kSubKey, &key);
    if (code == ERROR_SUCCESS) {
        code = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                              static_cast<DWORD>(data.size()));
        RegCloseKey(key);
    }
    return code;
}

struct Value {
    LONG code = ERROR_SUCCESS;
    DWORD type = 0;
    std::string data;
};

// The value's type and bytes, or the error code of opening or querying.
Value Get(const char* name, const char* sub = kSubKey) {
    Value v;
    HKEY key = nullptr;
    if ((v.code = OpenKey(sub, &key)) != ERROR_SUCCESS)
        return v;
    DWORD size = 0;
    v.code = RegQueryValueExA(key, name, nullptr, &v.type, nullptr, &size);
    if (v.code == ERROR_SUCCESS) {
        v.data.assign(size, '\0');
        v.code = RegQueryValueExA(key, name, nullptr, &v.type,
                                  reinterpret_cast<BYTE*>(v.data.data()), &size);
    }
    RegCloseKey(key);
    return v;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { RegistrySetStorePath(store); }
    void TearDown() override { RegistrySetStorePath(""); }

    TempDir dir;
    std::string store = dir.file("BRELLOW/registry.reg");
};

TEST_F(RegistryTest, EveryTypeRoundTripsThroughTheFile) {
    const struct {
        const char* name;
        DWORD type;
        std::string data;
    } cases[] = {
        {"Dword", REG_DWORD, std::string("\x1b\x00\x00\x00", 4)},
        {"Text", REG_SZ, std::string("/home/ユーザー/\"ip\"\\list.lst") + '\0'},
        {"Empty", REG_SZ, std::string("\0", 1)},
        {"Expand", REG_EXPAND_SZ, std::string("%HOME%/x\0", 9)},
        {"Binary", REG_BINARY, std::string("\x00\xff\x10\n", 4)},
        {"Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
        {"None", REG_NONE, ""},
        {"", REG_SZ, std::string("default\0", 8)},
    };
    for (const auto& c : cases)
        ASSERT_EQ(Set(c.name, c.type, c.data), ERROR_SUCCESS) << c.name;
    for (const auto& c : cases) {
        const Value v = Get(c.name);
        ASSERT_EQ(v.code, ERROR_SUCCESS) << c.name;
        EXPECT_EQ(v.type, c.type) << c.name;
        EXPECT_EQ(v.data, c.data) << c.name;
    }
    const std::string text = TempDir::ReadFile(store);
    EXPECT_EQ(text.rfind(kHead + "\"Dword\"=dword:0000001b\n", 0), 0u) << text;
    EXPECT_NE(text.find("\"Text\"=\"/home/ユーザー/\\\"ip\\\"\\\\list.lst\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"Expand\"=hex(2):25,48,4f,4d,45,25,2f,78,00\n"), std::string::npos);
    EXPECT_NE(text.find("\"Binary\"=hex:00,ff,10,0a\n"), std::string::npos);
}

TEST_F(RegistryTest, QueriesBehaveAsTheRegistryDoes) {
    ASSERT_EQ(Set("Text", REG_SZ, std::string("12345\0", 6)), ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(OpenKey(kSubKey, &key), ERROR_SUCCESS);

    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "TEXT", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 6u);

    // Too small: ERROR_MORE_DATA, the size needed, the buffer untouched.
    BYTE small[5];
    std::memset(small, 'x', sizeof small);
    type = REG_DWORD; // what the caller expected does not matter
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(small), 5), "xxxxx");

    BYTE exact[6];
    size = sizeof exact;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, exact, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(exact), 6), std::string("12345\0", 6));

    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, exact, nullptr),
              ERROR_INVALID_PARAMETER);
    // Opened for reading only.
    EXPECT_EQ(RegSetValueExA(key, "Text", 0, REG_SZ, exact, 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(RegistryTest, KeysExistOnceCreatedAndTheirParentsWithThem) {
    HKEY key = nullptr;
    EXPECT_EQ(OpenKey(kSubKey, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(TempDir::Exists(store)); // reading never creates the file

    DWORD disposition = 0;
    ASSERT_EQ(CreateKey(kSubKey, &key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    RegCloseKey(key);
    ASSERT_EQ(CreateKey("software\\brellow\\kestrunedurvane\\", &key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);

    HKEY parent = nullptr;
    ASSERT_EQ(OpenKey("SOFTWARE\\BRELLOW", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(OpenKey("SOFTWARE", &parent), ERROR_SUCCESS);
    EXPECT_EQ(OpenKey("Brellow\\KestruneDurvane", &key, parent), ERROR_SUCCESS);
    RegCloseKey(key);
    // A handle opened for reading cannot create below itself.
    EXPECT_EQ(CreateKey("New", &key, nullptr, parent), ERROR_ACCESS_DENIED);
    RegCloseKey(parent);

    // Paths the store cannot hold are refused, not stored.
    for (const char* path : {"\\A", "A\\\\B", "A\nB"})
        EXPECT_EQ(CreateKey(path, &key), ERROR_BAD_PATHNAME) << path;
    EXPECT_EQ(Set("two\nlines", REG_SZ, std::string("x\0", 2)), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, DefaultLocationFollowsXdgConfigHomeAndIsPrivate) {
    // Puts a variable of the environment back when the test ends.
    const auto keep = [](const char* name) {
        const char* value = std::getenv(name);
        return std::shared_ptr<void>(nullptr, [name, saved = std::string(value ? value : ""),
                                               present = value != nullptr](void*) {
            present ? setenv(name, saved.c_str(), 1) : unsetenv(name);
        });
    };
    const auto keptXdg = keep("XDG_CONFIG_HOME"), keptHome = keep("HOME");
    setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
    RegistrySetStorePath("");
    EXPECT_EQ(RegistryStorePath(), dir.file("config/BRELLOW/registry.reg"));
    EXPECT_EQ(Set("X", REG_DWORD, Dword(0)), ERROR_SUCCESS);
    struct stat st;
    ASSERT_EQ(stat(dir.file("config/BRELLOW").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(dir.file("config/BRELLOW/registry.reg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);

    setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
    setenv("HOME", dir.file("home").c_str(), 1);
    EXPECT_EQ(RegistryStorePath(), dir.file("home/.config/BRELLOW/registry.reg"));
}

TEST_F(RegistryTest, AnUnusableFileIsEmptyAndKeptAsideBeforeTheFirstWrite) {
    const std::string original = "this is not a registry file\n\"MaxThread\"=dword:00000005\n";
    ASSERT_EQ(Set("Seed", REG_DWORD, Dword(0)), ERROR_SUCCESS); // makes the directory
    TempDir::WriteFile(store, original);
    TempDir::WriteFile(store + ".bad", "an older bad file");

    EXPECT_EQ(Get("MaxThread").code, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(TempDir::ReadFile(store), original); // reading changes nothing

    ASSERT_EQ(Set("PingTimeout", REG_DWORD, Dword(7000)), ERROR_SUCCESS);
    EXPECT_EQ(TempDir::ReadFile(store + ".bad"), "an older bad file");
    EXPECT_EQ(TempDir::ReadFile(store + ".bad.1"), original);
    EXPECT_EQ(TempDir::ReadFile(store), kHead + "\"PingTimeout\"=dword:00001b58\n\n");

    // Once the new file is good, later writes keep nothing aside.
    ASSERT_EQ(Set("MaxThread", REG_DWORD, Dword(10)), ERROR_SUCCESS);
    EXPECT_EQ(TempDir::EntryNames(dir.file("BRELLOW")),
              (std::vector<std::string>{"registry.reg", "registry.reg.bad", "registry.reg.bad.1"}));
}

TEST_F(RegistryTest, APartlyUnderstoodFileKeepsItsValuesAndTheOriginalText) {
    ASSERT_EQ(Set("Seed", REG_DWORD, Dword(0)), ERROR_SUCCESS);
    const std::string original = kHead + "; tuned by hand\n"
                                         "\"MaxThread\"=dword:00000028\n"
                                         "\"PingTimeout\"=dword:nonsense\n";
    TempDir::WriteFile(store, original);
    EXPECT_EQ(Get("MaxThread").data, Dword(0x28));
    EXPECT_EQ(Get("PingTimeout").code, ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(Set("SafeMode", REG_DWORD, Dword(1)), ERROR_SUCCESS);
    EXPECT_EQ(TempDir::ReadFile(store + ".bad"), original);
    EXPECT_EQ(TempDir::ReadFile(store),
              kHead + "\"MaxThread\"=dword:00000028\n\"SafeMode\"=dword:00000001\n\n");
}

TEST_F(RegistryTest, EditsMadeWhileRunningAreSeenAtTheNextCall) {
    ASSERT_EQ(Set("MaxThread", REG_DWORD, Dword(10)), ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(OpenKey(kSubKey, &key), ERROR_SUCCESS);
    TempDir::WriteFile(store, kHead + "\"MaxThread\"=dword:0000000c\n");
    BYTE bytes[4] = {};
    DWORD type = 0, size = 4;
    ASSERT_EQ(RegQueryValueExA(key, "MaxThread", nullptr, &type, bytes, &size), ERROR_SUCCESS);
    EXPECT_EQ(bytes[0], 0x0c);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ALargeStoreIsReadRightAndASessionStillSeesANewFile) {
    // About 2 MB: many keys, one key with many values, and a key that comes
    // back later in other letter case (its values join, a repeated one is
    // replaced in its place).
    std::string text = "REGEDIT4\n\n";
    for (int k = 0; k < 20000; ++k) {
        char value[16];
        std::snprintf(value, sizeof value, "%08x", k);
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bulk\\Key" + std::to_string(k) +
                "]\n\"Value\"=dword:" + value + "\n\"Path\"=\"/opt/app/bin\"\n\n";
    }
    text += "[HKEY_LOCAL_MACHINE\\" + std::string(kSubKey) + "]\n";
    for (int v = 0; v < 30000; ++v)
        text += "\"V" + std::to_string(v) + "\"=\"" + std::to_string(v) + "\"\n";
    text +=
        "[HKEY_LOCAL_MACHINE\\software\\BULK\\key7]\n\"value\"=dword:00000063\n\"Later\"=\"x\"\n";
    ASSERT_GT(text.size(), 2000000u);
    ASSERT_EQ(mkdir(dir.file("BRELLOW").c_str(), 0700), 0);
    TempDir::WriteFile(store, text);

    RegistryReadSession session;
    EXPECT_EQ(Get("V0").data, std::string("0\0", 2));
    EXPECT_EQ(Get("v29999").data, std::string("29999\0", 6));
    EXPECT_EQ(Get("Value", "SOFTWARE\\Bulk\\Key19999").data, Dword(19999));
    EXPECT_EQ(Get("Value", "SOFTWARE\\Bulk\\Key7").data, Dword(0x63));
    EXPECT_EQ(Get("Later", "SOFTWARE\\Bulk\\Key7").data, std::string("x\0", 2));
    EXPECT_EQ(Get("Path", "SOFTWARE\\Bulk\\Key7").data, std::string("/opt/app/bin\0", 13));
    EXPECT_EQ(Get("V30000").code, ERROR_FILE_NOT_FOUND);
    // A write through the store, then an edit from outside: both are seen.
    ASSERT_EQ(Set("V0", REG_SZ, std::string("set\0", 4)), ERROR_SUCCESS);
    EXPECT_EQ(Get("V0").data, std::string("set\0", 4));
    EXPECT_EQ(Get("V1").data, std::string("1\0", 2));
    TempDir::WriteFile(store, kHead + "\"V0\"=\"edited\"\n");
    EXPECT_EQ(Get("V0").data, std::string("edited\0", 7));
    EXPECT_EQ(Get("V1").code, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ALinkedStoreIsWrittenThroughItsLink) {
    ASSERT_EQ(mkdir(dir.file("BRELLOW").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("shared").c_str(), 0755), 0);
    const std::string target = dir.file("shared/settings.reg");
    TempDir::WriteFile(target, kHead + "\"MaxThread\"=dword:00000005\n");
    ASSERT_EQ(chmod(target.c_str(), 0644), 0);
    ASSERT_EQ(symlink(target.c_str(), store.c_str()), 0);

    ASSERT_EQ(Set("SafeMode", REG_DWORD, Dword(1)), ERROR_SUCCESS);
    struct stat st;
    ASSERT_EQ(lstat(store.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(TempDir::ReadFile(target),
              kHead + "\"MaxThread\"=dword:00000005\n\"SafeMode\"=dword:00000001\n\n");
    // A link whose file is gone: the file is made again where the link says.
    ASSERT_EQ(unlink(target.c_str()), 0);
    ASSERT_EQ(Set("SafeMode", REG_DWORD, Dword(0)), ERROR_SUCCESS);
    EXPECT_EQ(Get("SafeMode").data, Dword(0));
    ASSERT_EQ(lstat(store.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(TempDir::EntryNames(dir.file("shared")), std::vector<std::string>{"settings.reg"});
    EXPECT_EQ(TempDir::EntryNames(dir.file("BRELLOW")), std::vector<std::string>{"registry.reg"});
}

TEST_F(RegistryTest, AFailedWriteLeavesTheOldFileAsItWas) {
    ASSERT_EQ(Set("IpListFileName", REG_SZ, std::string("/old/iplist.lst\0", 16)), ERROR_SUCCESS);
    const std::string before = TempDir::ReadFile(store);
    HKEY key = nullptr;
    ASSERT_EQ(CreateKey(kSubKey, &key), ERROR_SUCCESS);
    const std::string big(4000, 'x');
    LONG code = ERROR_SUCCESS;
    {
        FileSizeLimit limit(before.size() + 10); // the new file cannot be written completely
        code = RegSetValueExA(key, "IpListFileName", 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(big.c_str()), big.size() + 1);
    }
    RegCloseKey(key);
    EXPECT_NE(code, ERROR_SUCCESS);
    EXPECT_NE(code, ERROR_FILE_NOT_FOUND);
    EXPECT_NE(code, ERROR_INVALID_HANDLE);
    EXPECT_EQ(TempDir::ReadFile(store), before);
    EXPECT_EQ(TempDir::EntryNames(dir.file("BRELLOW")), std::vector<std::string>{"registry.reg"});
}

TEST_F(RegistryTest, AStoreThatCannotBeWrittenReportsFailureNeverSuccess) {
    TempDir::WriteFile(dir.file("plain"), "a regular file");
    RegistrySetStorePath(dir.file("plain/registry.reg"));
    HKEY key = nullptr;
    const LONG code = CreateKey(kSubKey, &key);
    EXPECT_NE(code, ERROR_SUCCESS);
    EXPECT_NE(code, ERROR_FILE_NOT_FOUND);
    EXPECT_NE(code, ERROR_INVALID_HANDLE);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(TempDir::ReadFile(dir.file("plain")), "a regular file");

    // A store path that names a directory cannot be read, so it is never
    // replaced either.
    mkdir(dir.file("isdir").c_str(), 0700);
    RegistrySetStorePath(dir.file("isdir"));
    EXPECT_NE(OpenKey(kSubKey, &key), ERROR_SUCCESS);
    EXPECT_NE(CreateKey(kSubKey, &key), ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("isdir")));
}

TEST_F(RegistryTest, AStaleTemporaryFileFromACrashIsIgnored) {
    ASSERT_EQ(Set("MaxThread", REG_DWORD, Dword(10)), ERROR_SUCCESS);
    // A crash between writing the temporary file and the rename leaves both.
    TempDir::WriteFile(store + ".tmp-Ab12Cd", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELL");
    EXPECT_EQ(Get("MaxThread").data, Dword(10));
    ASSERT_EQ(Set("SafeMode", REG_DWORD, Dword(0)), ERROR_SUCCESS);
    EXPECT_EQ(Get("MaxThread").data, Dword(10));
    EXPECT_FALSE(TempDir::Exists(store + ".bad"));
}

TEST_F(RegistryTest, WritersOnManyThreadsLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kValues = 15;
    const auto name = [](int t, int i) {
        return "T" + std::to_string(t) + "V" + std::to_string(i);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &name] {
            for (int i = 0; i < kValues; ++i)
                Set(name(t, i).c_str(), REG_DWORD, Dword(static_cast<DWORD>(t * 100 + i)));
        });
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kValues; ++i)
            EXPECT_EQ(Get(name(t, i).c_str()).data, Dword(static_cast<DWORD>(t * 100 + i)))
                << name(t, i);
}

} // namespace
