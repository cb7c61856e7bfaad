#include "platform/Registry.h"

#include "platform/RegistryFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

struct RegistryKeyHandle {
    std::string path; // full key path, root first
    REGSAM access = 0;
};

namespace {

// The root is a fixed object so that its address is a constant from the
// first moment of the process; its path is known by identity, not stored.
RegistryKeyHandle g_localMachineRoot;
constexpr const char* kLocalMachineName = "HKEY_LOCAL_MACHINE";

// How many ".bad" names are tried before a write gives up rather than
// overwrite a kept file.
constexpr int kMaxAsideNames = 1000;

struct Store {
    std::mutex lock;
    std::string path; // empty: the default location
    std::unordered_set<HKEY> handles;
    size_t reportedText = 0; // hash of the last file whose problems were reported
    bool reported = false;
};

Store& TheStore() {
    static Store store;
    return store;
}

std::string DefaultStorePath() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        std::string home;
        if (const char* env = std::getenv("HOME"); env && *env)
            home = env;
        else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
            home = pw->pw_dir;
        if (home.empty())
            return {};
        base = home + "/.config";
    }
    return base + "/BRELLOW/registry.reg";
}

std::string CurrentPath(const Store& store) {
    return store.path.empty() ? DefaultStorePath() : store.path;
}

LONG ReadErrorCode(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_READ_FAULT;
    }
}

// Never ERROR_FILE_NOT_FOUND or ERROR_INVALID_HANDLE: callers that treat
// those two as harmless must still see a failed write as a failure.
LONG WriteErrorCode(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ERROR_DISK_FULL;
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    default:
        return ERROR_WRITE_FAULT;
    }
}

struct Snapshot {
    bool exists = false;
    RegistryFileParse parse;
};

void ReportProblems(Store& store, const std::string& path, const std::string& text,
                    const RegistryFileParse& parse) {
    // The file is read on every call; say it once per content, not per read.
    size_t hash = std::hash<std::string>{}(text);
    if (store.reported && store.reportedText == hash)
        return;
    store.reported = true;
    store.reportedText = hash;
    if (!parse.valid) {
        std::fprintf(stderr, "%s: %s; the settings in it are not used.\n", path.c_str(),
                     parse.error.c_str());
        return;
    }
    for (const auto& issue : parse.issues)
        std::fprintf(stderr, "%s:%d: %s; the line is not used.\n", path.c_str(), issue.line,
                     issue.reason.c_str());
}

// A missing file (or a path that cannot exist) is an empty store. An
// unreadable one is an error: a write must not replace what it cannot read.
LONG Load(Store& store, const std::string& path, Snapshot& snapshot) {
    snapshot = {};
    snapshot.parse.valid = true;
    if (path.empty())
        return ERROR_SUCCESS;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? ERROR_SUCCESS : ReadErrorCode(errno);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return ERROR_READ_FAULT;
    }
    std::string text;
    char buffer[8192];
    while (true) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int error = errno;
            close(fd);
            return ReadErrorCode(error);
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    snapshot.exists = true;
    snapshot.parse = RegistryFile::Parse(text);
    if (!snapshot.parse.clean())
        ReportProblems(store, path, text, snapshot.parse);
    return ERROR_SUCCESS;
}

bool MakeDirectories(const std::string& dir) {
    for (size_t slash = dir.find('/', 1); slash != std::string::npos;
         slash = dir.find('/', slash + 1)) {
        std::string partial = dir.substr(0, slash);
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    if (stat(dir.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Renames the file to the first free name of path.bad, path.bad.1, ...
// without ever replacing an existing one.
LONG SetAside(const std::string& path, std::string& aside) {
    for (int n = 0; n < kMaxAsideNames; ++n) {
        std::string target = path + ".bad" + (n ? "." + std::to_string(n) : std::string());
        if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            aside = target;
            return ERROR_SUCCESS;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return WriteErrorCode(errno);
        // A file system without no-replace renames: link() refuses to
        // replace too.
        if (link(path.c_str(), target.c_str()) == 0) {
            unlink(path.c_str());
            aside = target;
            return ERROR_SUCCESS;
        }
        if (errno != EEXIST)
            return WriteErrorCode(errno);
    }
    return ERROR_WRITE_FAULT;
}

void SyncDirectory(const std::string& dir) {
    int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd); // the rename is done; a failed sync only weakens durability
    close(fd);
}

// Writes the whole store: temporary file in the same directory, fsync,
// rename over the old file. A file that was not fully understood is kept
// aside first. On failure the old file is where it was.
LONG Save(const std::string& path, const Snapshot& before, const RegistryFile& file) {
    if (path.empty())
        return ERROR_PATH_NOT_FOUND;
    std::string dir;
    if (size_t slash = path.rfind('/'); slash != std::string::npos)
        dir = path.substr(0, slash);
    if (!dir.empty() && !MakeDirectories(dir))
        return WriteErrorCode(errno);

    std::string temp = path + ".tmp-XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return WriteErrorCode(errno);
    if (!WriteAll(fd, file.Serialize()) || fsync(fd) != 0) {
        int error = errno;
        close(fd);
        unlink(temp.c_str());
        return WriteErrorCode(error);
    }
    if (close(fd) != 0) {
        int error = errno;
        unlink(temp.c_str());
        return WriteErrorCode(error);
    }

    std::string aside;
    if (before.exists && !before.parse.clean()) {
        if (LONG code = SetAside(path, aside); code != ERROR_SUCCESS) {
            unlink(temp.c_str());
            return code;
        }
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        int error = errno;
        unlink(temp.c_str());
        if (!aside.empty())
            rename(aside.c_str(), path.c_str());
        return WriteErrorCode(error);
    }
    if (!aside.empty())
        std::fprintf(stderr, "%s: kept as %s; a new file was written.\n", path.c_str(),
                     aside.c_str());
    SyncDirectory(dir);
    return ERROR_SUCCESS;
}

bool IsLive(const Store& store, HKEY key) {
    return key == HKEY_LOCAL_MACHINE || (key && store.handles.count(key) != 0);
}

const std::string& PathOf(HKEY key) {
    static const std::string root = kLocalMachineName;
    return key == HKEY_LOCAL_MACHINE ? root : key->path;
}

REGSAM AccessOf(HKEY key) {
    return key == HKEY_LOCAL_MACHINE ? KEY_ALL_ACCESS : key->access;
}

bool HasLineBreak(const char* text) {
    return text && std::strpbrk(text, "\r\n") != nullptr;
}

// The key below `key` named by a relative path; false for a path the store
// cannot hold (leading backslash, empty component, line break). A null or
// empty path names `key` itself; one trailing backslash is allowed.
bool SubKeyPath(HKEY key, const char* subKey, std::string& out) {
    out = PathOf(key);
    if (!subKey || !*subKey)
        return true;
    std::string sub = subKey;
    if (sub.back() == '\\')
        sub.pop_back();
    out += '\\';
    out += sub;
    return RegistryFile::IsValidKeyPath(out);
}

HKEY NewHandle(Store& store, const std::string& path, REGSAM access) {
    HKEY key = new RegistryKeyHandle{path, access};
    store.handles.insert(key);
    return key;
}

} // namespace

HKEY const HKEY_LOCAL_MACHINE = &g_localMachineRoot;

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   HKEY* phkResult) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    if (!IsLive(store, hKey))
        return ERROR_INVALID_HANDLE;
    std::string path;
    if (!SubKeyPath(hKey, lpSubKey, path))
        return ERROR_BAD_PATHNAME;
    Snapshot snapshot;
    if (LONG code = Load(store, CurrentPath(store), snapshot); code != ERROR_SUCCESS)
        return code;
    if (!snapshot.parse.file.KeyExists(path))
        return ERROR_FILE_NOT_FOUND;
    *phkResult = NewHandle(store, path, samDesired);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass,
                     DWORD dwOptions, REGSAM samDesired, void* lpSecurityAttributes,
                     HKEY* phkResult, DWORD* lpdwDisposition) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    if (!IsLive(store, hKey))
        return ERROR_INVALID_HANDLE;
    std::string path;
    if (!SubKeyPath(hKey, lpSubKey, path))
        return ERROR_BAD_PATHNAME;
    std::string file = CurrentPath(store);
    Snapshot snapshot;
    if (LONG code = Load(store, file, snapshot); code != ERROR_SUCCESS)
        return code;
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    if (!snapshot.parse.file.KeyExists(path)) {
        if (!(AccessOf(hKey) & KEY_CREATE_SUB_KEY))
            return ERROR_ACCESS_DENIED;
        RegistryFile changed = snapshot.parse.file;
        changed.CreateKey(path);
        if (LONG code = Save(file, snapshot, changed); code != ERROR_SUCCESS)
            return code;
        disposition = REG_CREATED_NEW_KEY;
    }
    *phkResult = NewHandle(store, path, samDesired);
    if (lpdwDisposition)
        *lpdwDisposition = disposition;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                      BYTE* lpData, DWORD* lpcbData) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    if (!IsLive(store, hKey))
        return ERROR_INVALID_HANDLE;
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    if (!(AccessOf(hKey) & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    Snapshot snapshot;
    if (LONG code = Load(store, CurrentPath(store), snapshot); code != ERROR_SUCCESS)
        return code;
    const RegistryFileKey* key = snapshot.parse.file.FindKey(PathOf(hKey));
    const RegistryFileValue* value = key ? key->FindValue(lpValueName ? lpValueName : "") : nullptr;
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    if (lpType)
        *lpType = value->type;
    DWORD size = static_cast<DWORD>(value->data.size());
    if (lpData) {
        if (*lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpData, value->data.data(), size);
    }
    if (lpcbData)
        *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    if (!IsLive(store, hKey))
        return ERROR_INVALID_HANDLE;
    if ((!lpData && cbData != 0) || HasLineBreak(lpValueName))
        return ERROR_INVALID_PARAMETER;
    if (!(AccessOf(hKey) & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    std::string file = CurrentPath(store);
    Snapshot snapshot;
    if (LONG code = Load(store, file, snapshot); code != ERROR_SUCCESS)
        return code;
    RegistryFile changed = snapshot.parse.file;
    std::string data;
    if (lpData)
        data.assign(reinterpret_cast<const char*>(lpData), cbData);
    changed.CreateKey(PathOf(hKey))
        .SetValue(lpValueName ? lpValueName : "", dwType, std::move(data));
    return Save(file, snapshot, changed);
}

LONG RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_LOCAL_MACHINE)
        return ERROR_SUCCESS;
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    if (!hKey || store.handles.erase(hKey) == 0)
        return ERROR_INVALID_HANDLE;
    delete hKey;
    return ERROR_SUCCESS;
}

void RegistrySetStorePath(const std::string& path) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    store.path = path;
}

std::string RegistryStorePath() {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    return CurrentPath(store);
}
