#include "tests/support/FileTree.h"

#include "tests/support/TempDir.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <sys/stat.h>

FileTree DescribeFileTree(const std::string& directory) {
    FileTree tree;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory, error)) {
        const std::string path = entry.path().string();
        const std::string name = entry.path().lexically_relative(directory).string();
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) {
            tree[name] = {"gone", ""};
            continue;
        }
        const char* kind = S_ISREG(info.st_mode)    ? "file"
                           : S_ISLNK(info.st_mode)  ? "link"
                           : S_ISDIR(info.st_mode)  ? "directory"
                           : S_ISFIFO(info.st_mode) ? "fifo"
                                                    : "other";
        char meta[96];
        std::snprintf(meta, sizeof meta, "%s %04o %u:%u links %lu", kind,
                      static_cast<unsigned>(info.st_mode & 07777), info.st_uid, info.st_gid,
                      static_cast<unsigned long>(info.st_nlink));
        std::string bytes;
        if (S_ISREG(info.st_mode))
            bytes = DescribeFileBytes(TempDir::ReadFile(path));
        else if (S_ISLNK(info.st_mode))
            bytes = std::filesystem::read_symlink(path, error).string();
        tree[name] = {meta, bytes};
    }
    return tree;
}

std::string DescribeFileBytes(const std::string& bytes) {
    if (bytes.size() <= 64)
        return bytes;
    return bytes.substr(0, 16) + "... (" + std::to_string(bytes.size()) + " bytes, hash " +
           std::to_string(std::hash<std::string>{}(bytes)) + ")";
}
