#include "core/commands/FileErrorMessage.h"

#include <cerrno>

namespace {

const char* const kGeneric = "%1 へのｱｸｾｽ中に不明なｴﾗｰが発生しました。";
const char* const kFileNotFound = "%1 が見つかりませんでした。";
const char* const kBadPath = "%1 には無効なﾊﾟｽが含まれています。";
const char* const kTooManyOpenFiles = "開いているﾌｧｲﾙが多すぎるため、%1 を開けませんでした。";
const char* const kAccessDenied = "%1 へのｱｸｾｽは拒否されました。";
const char* const kInvalidFile = "%1 へ無効なﾌｧｲﾙ ﾊﾝﾄﾞﾙが関連付けられていました。";
const char* const kDirectoryFull = "%1 を作成できませんでした。そのﾃﾞｨﾚｸﾄﾘはいっぱいです。";
const char* const kBadSeek = "%1 のｼｰｸに失敗しました。";
const char* const kHardIo = "%1 へのｱｸｾｽ中にﾊｰﾄﾞｳｪｱ I/O ｴﾗｰが報告されました。";
const char* const kSharingViolation = "%1 へのｱｸｾｽ中に共有違反が発生しました。";
const char* const kLockViolation = "%1 へのｱｸｾｽ中にﾛｯｸ違反が発生しました。";
const char* const kDiskFull = "%1 へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。";
const char* const kNotRegularFile = "%1 は通常のﾌｧｲﾙではないため、書き込めませんでした。";

std::string WithPath(const char* message, const std::string& path) {
    std::string text = message;
    const std::size_t at = text.find("%1");
    if (at != std::string::npos)
        text.replace(at, 2, path);
    return text;
}

} // namespace

const char* FileErrorMessage(int error) {
    switch (error) {
    // A file that is saved need not exist; what is missing is a directory
    // on its path, or the path cannot be a path at all.
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return kBadPath;
    // A device file with no device behind it.
    case ENXIO:
    case ENODEV:
        return kFileNotFound;
    case EMFILE:
    case ENFILE:
        return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return kAccessDenied;
    case EBADF:
        return kInvalidFile;
    // The directory cannot take another entry.
    case EMLINK:
        return kDirectoryFull;
    case ESPIPE:
        return kBadSeek;
    case EIO:
        return kHardIo;
    // In use in a way that excludes writing: a running program, a busy device.
    case ETXTBSY:
    case EBUSY:
        return kSharingViolation;
    case ENOLCK:
    case EDEADLK:
        return kLockViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return kDiskFull;
    default:
        return kGeneric;
    }
}

std::string FileErrorText(int error, const std::string& path) {
    return WithPath(FileErrorMessage(error), path);
}

std::string FileErrorText(const AtomicWriteResult& result, const std::string& path) {
    if (result.cause == AtomicWriteCause::NotRegularFile)
        return WithPath(kNotRegularFile, path);
    return FileErrorText(result.error, path);
}
