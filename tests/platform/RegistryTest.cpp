#include "platform/Registry.h"
#include "tests/support/TempDir.h"

#include "tests/support/FileSizeLimit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

const char* const kSubKey = "SOFTWARE\\BRELLOW\\KestruneDurvane";

std::vector<std::string> FileNames(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { RegistrySetStorePath(store); }
    void TearDown() override { RegistrySetStorePath(""); }

    HKEY Create(const char* sub = kSubKey) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, sub, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    HKEY Open(const char* sub = kSubKey) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, sub, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
        return key;
    }
    LONG Set(const char* name, DWORD type, const std::string& data) {
        HKEY key = Create();
        LONG code = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                   static_cast<DWORD>(data.size()));
        RegCloseKey(key);
        return code;
    }
    // The value's type and bytes, or the query's error code in `code`.
    LONG Get(const char* name, DWORD& type, std::string& data) {
        HKEY key = nullptr;
        LONG code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, KEY_QUERY_VALUE, &key);
        if (code != ERROR_SUCCESS)
            return code;
        DWORD size = 0;
        code = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
        if (code == ERROR_SUCCESS) {
            data.assign(size, '\0');
            code = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                                    &size);
        }
        RegCloseKey(key);
        return code;
    }

    TempDir dir;
    std::string store = dir.file("BRELLOW/registry.reg");
};

TEST_F(RegistryTest, EveryTypeRoundTripsThroughTheFile) {
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
    };
    const Case cases[] = {
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
        DWORD type = 99;
        std::string data;
        ASSERT_EQ(Get(c.name, type, data), ERROR_SUCCESS) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_EQ(data, c.data) << c.name;
    }
    const std::string text = TempDir::ReadFile(store);
    EXPECT_EQ(text.rfind("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane]\n"
                         "\"Dword\"=dword:0000001b\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("\"Text\"=\"/home/ユーザー/\\\"ip\\\"\\\\list.lst\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"Expand\"=hex(2):25,48,4f,4d,45,25,2f,78,00\n"), std::string::npos);
    EXPECT_NE(text.find("\"Binary\"=hex:00,ff,10,0a\n"), std::string::npos);
}

TEST_F(RegistryTest, QueriesBehaveAsTheRegistryDoes) {
    ASSERT_EQ(Set("Text", REG_SZ, std::string("12345\0", 6)), ERROR_SUCCESS);
    HKEY key = Open();

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
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, KEY_QUERY_VALUE, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(TempDir::Exists(store)); // reading never creates the file

    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_WRITE, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\brellow\\kestrunedurvane\\", 0,
                              nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);

    RegCloseKey(Open("SOFTWARE\\BRELLOW"));
    HKEY parent = Open("SOFTWARE");
    HKEY child = nullptr;
    EXPECT_EQ(RegOpenKeyExA(parent, "Brellow\\KestruneDurvane", 0, KEY_QUERY_VALUE, &child),
              ERROR_SUCCESS);
    RegCloseKey(child);
    // A handle opened for reading cannot create below itself.
    EXPECT_EQ(RegCreateKeyExA(parent, "New", 0, nullptr, 0, KEY_WRITE, nullptr, &child, nullptr),
              ERROR_ACCESS_DENIED);
    RegCloseKey(parent);

    // Paths the store cannot hold are refused, not stored.
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "\\A", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "A\\\\B", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "A\nB", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(Set("two\nlines", REG_SZ, std::string("x\0", 2)), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, DefaultLocationFollowsXdgConfigHomeAndIsPrivate) {
    // Restores a variable of the environment when the test ends.
    struct SavedVariable {
        const char* name;
        bool present;
        std::string value;
        explicit SavedVariable(const char* n) : name(n), present(std::getenv(n) != nullptr) {
            if (present)
                value = std::getenv(n);
        }
        ~SavedVariable() {
            if (present)
                setenv(name, value.c_str(), 1);
            else
                unsetenv(name);
        }
    } savedXdg("XDG_CONFIG_HOME"), savedHome("HOME");
    setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
    RegistrySetStorePath("");
    EXPECT_EQ(RegistryStorePath(), dir.file("config/BRELLOW/registry.reg"));
    EXPECT_EQ(Set("X", REG_DWORD, std::string(4, '\0')), ERROR_SUCCESS);
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
    ASSERT_EQ(Set("Seed", REG_DWORD, std::string(4, '\0')), ERROR_SUCCESS); // makes the dir
    TempDir::WriteFile(store, original);
    TempDir::WriteFile(store + ".bad", "an older bad file");

    DWORD type = 0;
    std::string data;
    EXPECT_EQ(Get("MaxThread", type, data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(TempDir::ReadFile(store), original); // reading changes nothing

    ASSERT_EQ(Set("PingTimeout", REG_DWORD, std::string("\x58\x1b\0\0", 4)), ERROR_SUCCESS);
    EXPECT_EQ(TempDir::ReadFile(store + ".bad"), "an older bad file");
    EXPECT_EQ(TempDir::ReadFile(store + ".bad.1"), original);
    EXPECT_EQ(TempDir::ReadFile(store),
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane]\n"
              "\"PingTimeout\"=dword:00001b58\n\n");

    // Once the new file is good, later writes keep nothing aside.
    ASSERT_EQ(Set("MaxThread", REG_DWORD, std::string("\x0a\0\0\0", 4)), ERROR_SUCCESS);
    EXPECT_EQ(FileNames(dir.file("BRELLOW")),
              (std::vector<std::string>{"registry.reg", "registry.reg.bad", "registry.reg.bad.1"}));
}

TEST_F(RegistryTest, APartlyUnderstoodFileKeepsItsValuesAndTheOriginalText) {
    ASSERT_EQ(Set("Seed", REG_DWORD, std::string(4, '\0')), ERROR_SUCCESS);
    const std::string original =
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane]\n"
        "; tuned by hand\n"
        "\"MaxThread\"=dword:00000028\n"
        "\"PingTimeout\"=dword:nonsense\n";
    TempDir::WriteFile(store, original);
    DWORD type = 0;
    std::string data;
    ASSERT_EQ(Get("MaxThread", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, std::string("\x28\0\0\0", 4));
    EXPECT_EQ(Get("PingTimeout", type, data), ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(Set("SafeMode", REG_DWORD, std::string("\x01\0\0\0", 4)), ERROR_SUCCESS);
    EXPECT_EQ(TempDir::ReadFile(store + ".bad"), original);
    EXPECT_EQ(TempDir::ReadFile(store),
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane]\n"
              "\"MaxThread\"=dword:00000028\n\"SafeMode\"=dword:00000001\n\n");
}

TEST_F(RegistryTest, EditsMadeWhileRunningAreSeenAtTheNextCall) {
    ASSERT_EQ(Set("MaxThread", REG_DWORD, std::string("\x0a\0\0\0", 4)), ERROR_SUCCESS);
    HKEY key = Open();
    TempDir::WriteFile(store, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane]\n"
                              "\"MaxThread\"=dword:0000000c\n");
    BYTE bytes[4] = {};
    DWORD type = 0, size = 4;
    ASSERT_EQ(RegQueryValueExA(key, "MaxThread", nullptr, &type, bytes, &size), ERROR_SUCCESS);
    EXPECT_EQ(bytes[0], 0x0c);
    RegCloseKey(key);
}

TEST_F(RegistryTest, AFailedWriteLeavesTheOldFileAsItWas) {
    ASSERT_EQ(Set("IpListFileName", REG_SZ, std::string("/old/iplist.lst\0", 16)), ERROR_SUCCESS);
    const std::string before = TempDir::ReadFile(store);
    HKEY key = Create();
    const std::string big(4000, 'x');
    {
        FileSizeLimit limit(before.size() + 10); // the new file cannot be written completely
        LONG code = RegSetValueExA(key, "IpListFileName", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(big.c_str()), big.size() + 1);
        EXPECT_NE(code, ERROR_SUCCESS);
        EXPECT_NE(code, ERROR_FILE_NOT_FOUND);
        EXPECT_NE(code, ERROR_INVALID_HANDLE);
    }
    RegCloseKey(key);
    EXPECT_EQ(TempDir::ReadFile(store), before);
    EXPECT_EQ(FileNames(dir.file("BRELLOW")), std::vector<std::string>{"registry.reg"});
}

TEST_F(RegistryTest, AStoreThatCannotBeWrittenReportsFailureNeverSuccess) {
    TempDir::WriteFile(dir.file("plain"), "a regular file");
    RegistrySetStorePath(dir.file("plain/registry.reg"));
    HKEY key = nullptr;
    LONG code = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_WRITE, nullptr, &key, nullptr);
    EXPECT_NE(code, ERROR_SUCCESS);
    EXPECT_NE(code, ERROR_FILE_NOT_FOUND);
    EXPECT_NE(code, ERROR_INVALID_HANDLE);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(TempDir::ReadFile(dir.file("plain")), "a regular file");

    // A store path that names a directory cannot be read, so it is never
    // replaced either.
    mkdir(dir.file("isdir").c_str(), 0700);
    RegistrySetStorePath(dir.file("isdir"));
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    code = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                           nullptr);
    EXPECT_NE(code, ERROR_SUCCESS);
    struct stat st;
    ASSERT_EQ(stat(dir.file("isdir").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(RegistryTest, AStaleTemporaryFileFromACrashIsIgnored) {
    ASSERT_EQ(Set("MaxThread", REG_DWORD, std::string("\x0a\0\0\0", 4)), ERROR_SUCCESS);
    // A crash between writing the temporary file and the rename leaves both.
    TempDir::WriteFile(store + ".tmp-Ab12Cd", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELL");
    DWORD type = 0;
    std::string data;
    ASSERT_EQ(Get("MaxThread", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, std::string("\x0a\0\0\0", 4));
    ASSERT_EQ(Set("SafeMode", REG_DWORD, std::string(4, '\0')), ERROR_SUCCESS);
    ASSERT_EQ(Get("MaxThread", type, data), ERROR_SUCCESS);
    EXPECT_FALSE(TempDir::Exists(store + ".bad"));
}

TEST_F(RegistryTest, WritersOnManyThreadsLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kValues = 15;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kValues; ++i) {
                HKEY key = nullptr;
                if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                                    &key, nullptr) != ERROR_SUCCESS)
                    continue;
                std::string name = "T" + std::to_string(t) + "V" + std::to_string(i);
                DWORD value = static_cast<DWORD>(t * 100 + i);
                RegSetValueExA(key, name.c_str(), 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&value), 4);
                RegCloseKey(key);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kValues; ++i) {
            std::string name = "T" + std::to_string(t) + "V" + std::to_string(i);
            DWORD type = 0;
            std::string data;
            ASSERT_EQ(Get(name.c_str(), type, data), ERROR_SUCCESS) << name;
            DWORD value = 0;
            std::memcpy(&value, data.data(), 4);
            EXPECT_EQ(value, static_cast<DWORD>(t * 100 + i));
        }
    }
}

} // namespace
