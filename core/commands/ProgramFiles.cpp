#include "core/commands/ProgramFiles.h"

#include <climits>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsExecutableFile(const std::string& path) {
    return IsRegularFile(path) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

std::string ExecutableDirectory() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    const std::string path(buffer, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NbtstatPath(const std::string& directory) {
    const std::string inBuildTree = directory + "tools/nbtstat";
    if (IsExecutableFile(inBuildTree))
        return inBuildTree;
    return directory + "nbtstat";
}

std::string FindHelpFile(const std::string& directory) {
    if (directory.empty())
        return {};
    const std::filesystem::path base(directory);
    for (const std::filesystem::path& candidate :
         {base / kHelpFileName, base / ".." / "share" / "kestrune-durvane" / kHelpFileName}) {
        const std::string path = candidate.lexically_normal().string();
        if (IsRegularFile(path))
            return path;
    }
    return {};
}

std::string FindOnPath(const std::string& name, const std::string& searchPath) {
    if (name.empty() || name.find('/') != std::string::npos)
        return {};
    std::size_t begin = 0;
    while (begin <= searchPath.size()) {
        std::size_t end = searchPath.find(':', begin);
        if (end == std::string::npos)
            end = searchPath.size();
        const std::string dir = searchPath.substr(begin, end - begin);
        // An empty entry would mean the current directory; a terminal is never
        // taken from there.
        if (!dir.empty() && dir.front() == '/') {
            const std::string path = dir + (dir.back() == '/' ? "" : "/") + name;
            if (IsExecutableFile(path))
                return path;
        }
        begin = end + 1;
    }
    return {};
}
