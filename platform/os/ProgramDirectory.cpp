#include "platform/os/ProgramDirectory.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// The build directory this file was compiled in, set by CMake for this one
// source. Telling the build tree by this compiled-in path rather than by a
// marker file (CMakeCache.txt) beside the executable means that no file a
// user happens to leave next to an installed copy can turn it into a "build
// tree" copy writing into a system directory; a build tree that was moved
// away counts as installed, which errs on the side of the data directory.
#ifndef KD_BUILD_DIRECTORY
#define KD_BUILD_DIRECTORY ""
#endif

namespace {

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return {};
}

bool MakeDirectories(const std::string& path) {
    std::string partial;
    for (size_t i = 0; i < path.size(); ++i) {
        partial += path[i];
        if (path[i] == '/' && partial.size() > 1) {
            if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    if (!partial.empty() && partial.back() != '/')
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    return true;
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The real path of the compiled-in build directory, "" when it is gone.
std::string RealBuildDirectory() {
    const char* compiled = KD_BUILD_DIRECTORY;
    if (*compiled != '/')
        return {};
    char buffer[PATH_MAX];
    if (!realpath(compiled, buffer))
        return {};
    return buffer;
}

} // namespace

std::string DirectoryOf(const std::string& filePath) {
    auto slash = filePath.rfind('/');
    if (slash == std::string::npos)
        return {};
    return filePath.substr(0, slash + 1);
}

std::string LowerCaseAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool IsWithinDirectory(const std::string& path, const std::string& directory) {
    if (path.empty() || directory.empty() || path[0] != '/' || directory[0] != '/')
        return false;
    const std::string base = WithoutTrailingSlashes(directory);
    const std::string inner = WithoutTrailingSlashes(path);
    if (base == "/")
        return true;
    // "/work/build2" is not inside "/work/build".
    return inner == base || inner.compare(0, base.size() + 1, base + "/") == 0;
}

ProgramFilesPlace ChooseProgramFilesPlace(const std::string& executableDirectory,
                                          const std::string& buildDirectory,
                                          bool executableDirectoryWritable) {
    // Even root, who can write anywhere, must not leave files in the
    // directory of an installed copy: the package manager knows nothing of
    // them. A build tree is the developer's own, so its copy keeps the files
    // at hand beside itself.
    if (executableDirectoryWritable && IsWithinDirectory(executableDirectory, buildDirectory))
        return ProgramFilesPlace::BesideExecutable;
    return ProgramFilesPlace::UserData;
}

std::string UserDataDirectoryPath(const char* xdgDataHome, const std::string& home) {
    std::string base;
    if (xdgDataHome && *xdgDataHome == '/')
        base = xdgDataHome;
    else if (!home.empty())
        base = home + "/.local/share";
    else
        return {};
    return WithoutTrailingSlashes(base) + "/kestrune-durvane/";
}

std::string UserDataDirectory() {
    std::string dir = UserDataDirectoryPath(std::getenv("XDG_DATA_HOME"), HomeDirectory());
    if (dir.empty() || !MakeDirectories(dir))
        return {};
    return dir;
}

ProgramDirectoryResult FindProgramDirectory(ProgramDirectoryInfo& out) {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return ProgramDirectoryResult::UnknownExecutable;
    buffer[n] = '\0';
    std::string dir = DirectoryOf(buffer);
    if (dir.empty())
        return ProgramDirectoryResult::UnknownExecutable;
    const bool writable = access(dir.c_str(), W_OK) == 0;
    if (ChooseProgramFilesPlace(dir, RealBuildDirectory(), writable) ==
        ProgramFilesPlace::UserData) {
        dir = UserDataDirectory();
        if (dir.empty()) {
            // Never the executable's directory instead: tell the caller.
            out.path = UserDataDirectoryPath(std::getenv("XDG_DATA_HOME"), HomeDirectory());
            out.display = LowerCaseAscii(out.path);
            return ProgramDirectoryResult::NoDataDirectory;
        }
    }
    out.path = dir;
    out.display = LowerCaseAscii(dir);
    return ProgramDirectoryResult::Found;
}
