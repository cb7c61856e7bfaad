#include "ranges/RangeList.h"

#include "app/RunLog.h"
#include "platform/MessageBox.h"
#include "platform/TextCodec.h"
#include "ranges/AddressRange.h"
#include "ranges/RangeListTokenizer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kWriteFailed =
    "ファイルの書き込みに失敗しました。[IPリストファイルの変更]ボタンをクリックし、IPのリストを保"
    "存するファイルのファイル名を指定してください。またこのファイルが書き込み可能であることを確認"
    "してください。";
const char* const kFileInvalid = "ファイルが異常です。";

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A cell's text as the file holds it.
std::string ToFileBytes(std::string_view text) {
    if (IsAscii(text))
        return std::string(text);
    std::string bytes;
    Utf8ToCp932(text, bytes); // '?' stands in for what CP932 lacks
    return bytes;
}

std::string FromFileBytes(std::string_view bytes) {
    if (IsAscii(bytes))
        return std::string(bytes);
    return Cp932ToUtf8(bytes);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Open, truncate, write, close: the only way for a file that cannot be
// replaced by a new one (a device, a file with several links, a directory
// that does not let us create the new file beside it).
bool WriteInPlace(const std::string& path, std::string_view bytes) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    bool ok = ::ftruncate(fd, 0) == 0 && WriteAll(fd, bytes);
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

enum class Replace { Done, Failed, NotPossible };

std::atomic<unsigned> g_tempCounter{0};

// Writes the bytes to a new file beside `target` and renames it over
// `target`, so that the old list stays whole until the new one is. `existing`
// describes the file being replaced (its owner and permissions carry over),
// or is null when there is none. NotPossible means nothing was changed and
// the caller may write in place instead.
Replace WriteAndRename(const std::string& target, std::string_view bytes,
                       const struct stat* existing) {
    std::size_t slash = target.rfind('/');
    std::string directory =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = directory + "." + name + ".tmp" + std::to_string(::getpid()) + "-" +
               std::to_string(g_tempCounter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return Replace::NotPossible;
    }
    if (fd < 0)
        return Replace::NotPossible;

    if (existing) {
        struct stat mine;
        bool kept = ::fstat(fd, &mine) == 0;
        if (kept && (mine.st_uid != existing->st_uid || mine.st_gid != existing->st_gid))
            kept = ::fchown(fd, existing->st_uid, existing->st_gid) == 0;
        if (kept)
            kept = ::fchmod(fd, existing->st_mode & 07777) == 0;
        if (!kept) {
            ::close(fd);
            ::unlink(temp.c_str());
            return Replace::NotPossible;
        }
    }

    bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    if (::close(fd) != 0)
        written = false;
    if (!written) {
        ::unlink(temp.c_str());
        return Replace::Failed;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return Replace::NotPossible;
    }
    int dir =
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir); // makes the rename itself durable; best effort
        ::close(dir);
    }
    return Replace::Done;
}

bool WriteListFile(const std::string& path, std::string_view bytes) {
    struct stat info;
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode) || info.st_nlink != 1)
            return WriteInPlace(path, bytes);
        // The list file itself must be writable, even though it is replaced
        // rather than written: a read-only list stays read-only.
        int probe = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (probe < 0)
            return false;
        ::close(probe);
        // Replace the file a symbolic link points to, not the link.
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real)
            return WriteInPlace(path, bytes);
        std::string target = real;
        std::free(real);
        Replace result = WriteAndRename(target, bytes, &info);
        if (result == Replace::NotPossible)
            return WriteInPlace(path, bytes);
        return result == Replace::Done;
    }
    int error = errno;
    struct stat link;
    if (error != ENOENT || ::lstat(path.c_str(), &link) == 0)
        return WriteInPlace(path, bytes); // a dangling link is followed, as open does
    Replace result = WriteAndRename(path, bytes, nullptr);
    if (result == Replace::NotPossible)
        return WriteInPlace(path, bytes);
    return result == Replace::Done;
}

// Fills the rows from the tokenizer's fields: field 0 makes a row, field 1
// sets its end text.
RangeListTokenizer::Sink RowsSink(RangeListRows& rows) {
    return [&rows](const RangeListField& field) {
        int row = static_cast<int>(field.line);
        if (field.field == 0)
            rows.InsertItem(row, FromFileBytes(field.text));
        else
            rows.SetItemText(row, 1, FromFileBytes(field.text));
    };
}

bool FinishLoad(RangeListRows& rows, RangeListTokenizer::FileResult result) {
    switch (result) {
    case RangeListTokenizer::FileResult::Complete:
        return true;
    case RangeListTokenizer::FileResult::Unreadable:
        rows.DeleteAllItems();
        return true;
    case RangeListTokenizer::FileResult::TooLong:
        break;
    }
    MessageBoxA(nullptr, kFileInvalid, "注意", MB_OK | MB_ICONEXCLAMATION);
    rows.DeleteAllItems();
    return false;
}

} // namespace

std::string FormatRangeListBytes(const RangeListRows& rows) {
    std::string bytes;
    int count = rows.GetItemCount();
    for (int row = 0; row < count; ++row) {
        bytes += ToFileBytes(TruncateToCp932Bytes(rows.GetItemText(row, 0), kRangeListCellBytes));
        bytes += ',';
        bytes += ToFileBytes(TruncateToCp932Bytes(rows.GetItemText(row, 1), kRangeListCellBytes));
        bytes += "\r\n";
    }
    return bytes;
}

bool SaveRangeList(const RangeListRows& rows, const std::string& path) {
    if (WriteListFile(path, FormatRangeListBytes(rows)))
        return true;
    MessageBoxA(nullptr, kWriteFailed, "注意", MB_OK | MB_ICONEXCLAMATION);
    RunLog::Write("%s\n", kWriteFailed);
    return false;
}

bool LoadRangeList(RangeListRows& rows, const std::string& path) {
    rows.DeleteAllItems();
    RangeListTokenizer tokenizer(RowsSink(rows));
    return FinishLoad(rows, tokenizer.FeedFile(path));
}

bool LoadRangeListBytes(RangeListRows& rows, std::string_view bytes) {
    rows.DeleteAllItems();
    RangeListTokenizer tokenizer(RowsSink(rows));
    return FinishLoad(rows, tokenizer.Feed(bytes) ? RangeListTokenizer::FileResult::Complete
                                                  : RangeListTokenizer::FileResult::TooLong);
}

void SortRangeList(RangeListRows& rows) {
    int count = rows.GetItemCount();
    std::vector<std::uint32_t> keys(static_cast<std::size_t>(count));
    for (int row = 0; row < count; ++row)
        keys[row] = AddressFromText(ToFileBytes(rows.GetItemText(row, 0)));
    std::vector<int> order(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    // Stable, so that rows with the same start keep the order they were added in.
    std::stable_sort(order.begin(), order.end(),
                     [&keys](int a, int b) { return keys[a] < keys[b]; });
    if (!std::is_sorted(order.begin(), order.end()))
        rows.ReorderRows(order);
}
