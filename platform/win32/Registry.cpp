#include "platform/win32/Registry.h"

#include "platform/os/AtomicFile.h"
#include "platform/win32/RegistryFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
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

constexpr const char* kLocalMachineName = "HKEY_LOCAL_MACHINE";

// How many ".bad" names are tried before a write gives up rather than
// overwrite a kept file.
constexpr int kMaxAsideNames = 1000;

struct Snapshot {
    bool exists = false;
    RegistryFileParse parse;
    std::string original; // the file's bytes, kept only when `parse` is not clean
};
using SnapshotPtr = std::shared_ptr<const Snapshot>;

// What tells one version of the store file from another without reading it.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long mtimeSec = 0;
    long mtimeNsec = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size, static_cast<long long>(st.st_mtim.tv_sec),
            st.st_mtim.tv_nsec};
}

struct Store {
    std::mutex lock;
    std::string path; // empty: the default location
    std::unordered_set<HKEY> handles;
    size_t reportedText = 0; // hash of the last file whose problems were reported
    bool reported = false;
    std::string problem; // why the last read failed, for the run log; empty when it did not
    // While a read session is open, the parse of the file is reused as long
    // as the file stays the same one.
    int sessions = 0;
    std::string cachedPath;
    FileIdentity cachedIdentity;
    SnapshotPtr cached;
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
LONG WriteErrorCode(AtomicWriteCause cause) {
    switch (cause) {
    case AtomicWriteCause::None:
        return ERROR_SUCCESS;
    case AtomicWriteCause::NoPermission:
        return ERROR_ACCESS_DENIED;
    case AtomicWriteCause::DiskFull:
        return ERROR_DISK_FULL;
    case AtomicWriteCause::NoDirectory:
        return ERROR_PATH_NOT_FOUND;
    case AtomicWriteCause::NotRegularFile:
    case AtomicWriteCause::Failed:
        break;
    }
    return ERROR_WRITE_FAULT;
}

LONG WriteErrorCode(int error) {
    return WriteErrorCode(error ? AtomicWriteCauseOf(error) : AtomicWriteCause::Failed);
}

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

SnapshotPtr EmptySnapshot() {
    static const SnapshotPtr empty = [] {
        auto snapshot = std::make_shared<Snapshot>();
        snapshot->parse.valid = true;
        return snapshot;
    }();
    return empty;
}

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return "ディレクトリ";
    if (S_ISFIFO(mode))
        return "名前付きパイプ";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "デバイス";
    if (S_ISSOCK(mode))
        return "ソケット";
    return "特殊なファイル";
}

LONG Unreadable(Store& store, const std::string& path, int error) {
    if (error == EACCES || error == EPERM)
        store.problem = "設定ファイル「" + path + "」を読む権限がありません。";
    else
        store.problem =
            "設定ファイル「" + path + "」を読み込めません(" + std::strerror(error) + ")。";
    return ReadErrorCode(error);
}

LONG NotRegular(Store& store, const std::string& path, mode_t mode) {
    store.problem =
        "設定ファイル「" + path + "」は通常のファイルではありません(" + KindOf(mode) + ")。";
    return ERROR_READ_FAULT;
}

// A missing file (or a path that cannot exist) is an empty store. An
// unreadable one is an error: a write must not replace what it cannot read.
// Only a regular file is opened at all: opening a FIFO would wait for a
// writer for ever, and opening a device may do something.
LONG Load(Store& store, const std::string& path, SnapshotPtr& snapshot) {
    snapshot = EmptySnapshot();
    store.problem.clear();
    if (path.empty())
        return ERROR_SUCCESS;
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return (errno == ENOENT || errno == ENOTDIR) ? ERROR_SUCCESS
                                                     : Unreadable(store, path, errno);
    if (!S_ISREG(st.st_mode))
        return NotRegular(store, path, st.st_mode);
    if (store.sessions > 0 && store.cached && store.cachedPath == path &&
        store.cachedIdentity == IdentityOf(st)) {
        snapshot = store.cached;
        return ERROR_SUCCESS;
    }
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? ERROR_SUCCESS
                                                     : Unreadable(store, path, errno);
    if (fstat(fd, &st) != 0) {
        int error = errno;
        close(fd);
        return Unreadable(store, path, error);
    }
    if (!S_ISREG(st.st_mode)) { // replaced since the stat
        close(fd);
        return NotRegular(store, path, st.st_mode);
    }
    std::string text;
    text.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    while (true) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int error = errno;
            close(fd);
            return Unreadable(store, path, error);
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    auto parsed = std::make_shared<Snapshot>();
    parsed->exists = true;
    parsed->parse = RegistryFile::Parse(text);
    if (!parsed->parse.clean()) {
        ReportProblems(store, path, text, parsed->parse);
        parsed->original = std::move(text);
    }
    snapshot = parsed;
    if (store.sessions > 0) {
        store.cachedPath = path;
        store.cachedIdentity = IdentityOf(st);
        store.cached = parsed;
    }
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

// Keeps a copy of the original bytes under the first free name of path.bad,
// path.bad.1, ... without ever replacing an existing one.
LONG KeepAside(const std::string& path, const std::string& bytes, std::string& aside) {
    for (int n = 0; n < kMaxAsideNames; ++n) {
        std::string target = path + ".bad" + (n ? "." + std::to_string(n) : std::string());
        int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return WriteErrorCode(errno);
        size_t done = 0;
        int error = 0;
        while (done < bytes.size() && !error) {
            ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                error = written < 0 ? errno : EIO;
            else
                done += static_cast<size_t>(written);
        }
        if (!error && fsync(fd) != 0)
            error = errno;
        if (close(fd) != 0 && !error)
            error = errno;
        if (error) {
            unlink(target.c_str());
            return WriteErrorCode(error);
        }
        aside = target;
        return ERROR_SUCCESS;
    }
    return ERROR_WRITE_FAULT;
}

// Writes the whole store through the one atomic helper: the old file stays
// whole until the new one is complete, a linked store is written through its
// link, and the file keeps its owner and permissions (a new one is private).
// A file that was not fully understood is kept aside first. Inside a read
// session the new contents become the session's snapshot.
LONG Save(Store& store, const std::string& path, const Snapshot& before, RegistryFile file) {
    if (path.empty())
        return ERROR_PATH_NOT_FOUND;
    std::string dir;
    if (size_t slash = path.rfind('/'); slash != std::string::npos)
        dir = path.substr(0, slash);
    if (!dir.empty() && !MakeDirectories(dir))
        return WriteErrorCode(errno);

    std::string aside;
    if (before.exists && !before.parse.clean()) {
        if (LONG code = KeepAside(path, before.original, aside); code != ERROR_SUCCESS)
            return code;
    }
    AtomicWriteOptions options;
    options.newFileMode = 0600;
    store.cached.reset();
    if (AtomicWriteResult result = WriteFileAtomically(path, file.Serialize(), options);
        !result.ok()) {
        if (!aside.empty())
            unlink(aside.c_str());
        return WriteErrorCode(result.cause);
    }
    if (!aside.empty())
        std::fprintf(stderr, "%s: kept as %s; a new file was written.\n", path.c_str(),
                     aside.c_str());
    struct stat st;
    if (store.sessions > 0 && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        auto written = std::make_shared<Snapshot>();
        written->exists = true;
        written->parse.valid = true;
        written->parse.file = std::move(file);
        store.cachedPath = path;
        store.cachedIdentity = IdentityOf(st);
        store.cached = std::move(written);
    }
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

// The checks that opening and creating a key start with, in this order:
// somewhere to put the handle (cleared at once), a live parent, and a
// sub-key path the store can hold. The caller holds the store's lock.
LONG CheckSubKey(const Store& store, HKEY hKey, const char* lpSubKey, HKEY* phkResult,
                 std::string& path) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (!IsLive(store, hKey))
        return ERROR_INVALID_HANDLE;
    if (!SubKeyPath(hKey, lpSubKey, path))
        return ERROR_BAD_PATHNAME;
    return ERROR_SUCCESS;
}

HKEY NewHandle(Store& store, const std::string& path, REGSAM access) {
    HKEY key = new RegistryKeyHandle{path, access};
    store.handles.insert(key);
    return key;
}

} // namespace

// The root is Windows' own value for it, a handle no key ever gets (an opened
// key is an object that new aligns, never at an odd address) and that is
// never dereferenced: its path and rights are known by identity.
HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   HKEY* phkResult) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    std::string path;
    if (LONG code = CheckSubKey(store, hKey, lpSubKey, phkResult, path); code != ERROR_SUCCESS)
        return code;
    SnapshotPtr snapshot;
    if (LONG code = Load(store, CurrentPath(store), snapshot); code != ERROR_SUCCESS)
        return code;
    if (!snapshot->parse.file.KeyExists(path))
        return ERROR_FILE_NOT_FOUND;
    *phkResult = NewHandle(store, path, samDesired);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass,
                     DWORD dwOptions, REGSAM samDesired, void* lpSecurityAttributes,
                     HKEY* phkResult, DWORD* lpdwDisposition) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    std::string path;
    if (LONG code = CheckSubKey(store, hKey, lpSubKey, phkResult, path); code != ERROR_SUCCESS)
        return code;
    std::string file = CurrentPath(store);
    SnapshotPtr snapshot;
    if (LONG code = Load(store, file, snapshot); code != ERROR_SUCCESS)
        return code;
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    if (!snapshot->parse.file.KeyExists(path)) {
        if (!(AccessOf(hKey) & KEY_CREATE_SUB_KEY))
            return ERROR_ACCESS_DENIED;
        RegistryFile changed = snapshot->parse.file;
        changed.CreateKey(path);
        if (LONG code = Save(store, file, *snapshot, std::move(changed)); code != ERROR_SUCCESS)
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
    SnapshotPtr snapshot;
    if (LONG code = Load(store, CurrentPath(store), snapshot); code != ERROR_SUCCESS)
        return code;
    const RegistryFileKey* key = snapshot->parse.file.FindKey(PathOf(hKey));
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
    SnapshotPtr snapshot;
    if (LONG code = Load(store, file, snapshot); code != ERROR_SUCCESS)
        return code;
    RegistryFile changed = snapshot->parse.file;
    std::string data;
    if (lpData)
        data.assign(reinterpret_cast<const char*>(lpData), cbData);
    changed.CreateKey(PathOf(hKey))
        .SetValue(lpValueName ? lpValueName : "", dwType, std::move(data));
    return Save(store, file, *snapshot, std::move(changed));
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

std::string RegistryStoreProblem() {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    SnapshotPtr snapshot;
    Load(store, CurrentPath(store), snapshot);
    return store.problem;
}

RegistryReadSession::RegistryReadSession() {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    ++store.sessions;
}

RegistryReadSession::~RegistryReadSession() {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    if (--store.sessions == 0)
        store.cached.reset();
}
