#pragma once
// The registry as the program knows it from Windows: typed values under key
// paths, reached through open key handles. On Linux the whole store is one
// REGEDIT4 text file (see RegistryFile.h) that an administrator can read and
// edit: $XDG_CONFIG_HOME/BRELLOW/registry.reg, default ~/.config/BRELLOW/.
//
// Every call reads the file afresh, so an edit made while the program runs
// is seen at the next call; inside a RegistryReadSession the file is parsed
// once and reused while it stays the same file. Only a regular file is read:
// a FIFO, device or directory at the path is unreadable (never waited on,
// never replaced). Every change rewrites the whole file through the atomic
// helper (platform/AtomicFile.h): a crash leaves the old file or the new one,
// never half of one, and a store that is a symbolic link is written through
// it. A file that cannot be fully understood is kept aside (registry.reg.bad,
// .bad.1, ...) before the store writes a new one, so the user's text is never
// lost. All calls are serialised by one lock and may come from any thread.

#include <cstdint>
#include <string>

using LONG = std::int32_t;
using DWORD = std::uint32_t;
using BYTE = unsigned char;
using REGSAM = DWORD;

struct RegistryKeyHandle; // opaque; only the store knows what is inside
using HKEY = RegistryKeyHandle*;

// The predefined root the program uses. Always valid; closing it does nothing.
extern HKEY const HKEY_LOCAL_MACHINE;

// Access rights, Win32 values.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0x0000;
constexpr DWORD REG_CREATED_NEW_KEY = 0x0001;
constexpr DWORD REG_OPENED_EXISTING_KEY = 0x0002;

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Result codes.
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_READ_FAULT = 30;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_DISK_FULL = 112;
constexpr LONG ERROR_BAD_PATHNAME = 161;
constexpr LONG ERROR_MORE_DATA = 234;

// Opens an existing key. ERROR_FILE_NOT_FOUND when the key (or the store
// file) does not exist. A null or empty subKey opens hKey itself again.
LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   HKEY* phkResult);

// Opens a key, creating it and its parents when missing (which writes the
// store). lpClass and lpSecurityAttributes are accepted and ignored.
LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass,
                     DWORD dwOptions, REGSAM samDesired, void* lpSecurityAttributes,
                     HKEY* phkResult, DWORD* lpdwDisposition);

// Reads a value. *lpType receives the stored type (its value on entry does
// not matter). With lpData null, *lpcbData receives the size. When *lpcbData
// is smaller than the value, the result is ERROR_MORE_DATA, *lpcbData the
// size needed, and lpData is left untouched. Text values come back exactly as
// stored, with the NUL they were stored with.
LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                      BYTE* lpData, DWORD* lpcbData);

// Stores cbData bytes as the value's data with type dwType and rewrites the
// store file. On failure the file on disk is the one from before the call.
LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData);

LONG RegCloseKey(HKEY hKey);

// Points the store at another file (tests, or a second store); an empty path
// goes back to the default location. Open handles keep working on the new file.
void RegistrySetStorePath(const std::string& path);

// The file the store uses now.
std::string RegistryStorePath();

// Why the store file cannot be read, as one Japanese sentence naming the
// file (for the run log), or empty when it can be read or does not exist.
std::string RegistryStoreProblem();

// While one of these lives (on any thread; they may nest), the store file is
// read and parsed once, and every call reuses that parse as long as the
// file's identity (device, inode, size, modification time) is unchanged; a
// write through the store becomes the new parse. A caller that reads many
// values at once (loading the settings) opens one around its reads.
class RegistryReadSession {
public:
    RegistryReadSession();
    ~RegistryReadSession();
    RegistryReadSession(const RegistryReadSession&) = delete;
    RegistryReadSession& operator=(const RegistryReadSession&) = delete;
};
