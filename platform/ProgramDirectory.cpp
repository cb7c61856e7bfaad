#include "platform/ProgramDirectory.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string UserDataDirectory() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        base = xdg;
    else {
        std::string home = HomeDirectory();
        if (home.empty())
            return {};
        base = home + "/.local/share";
    }
    std::string dir = base + "/kestrune-durvane/";
    if (!MakeDirectories(dir))
        return {};
    return dir;
}

bool FindProgramDirectory(ProgramDirectoryInfo& out) {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return false;
    buffer[n] = '\0';
    std::string dir = DirectoryOf(buffer);
    if (dir.empty())
        return false;
    if (access(dir.c_str(), W_OK) != 0) {
        std::string data = UserDataDirectory();
        if (!data.empty())
            dir = data;
    }
    out.path = dir;
    out.display = LowerCaseAscii(dir);
    return true;
}
