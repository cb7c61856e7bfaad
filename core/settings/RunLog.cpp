#include "core/settings/RunLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

std::mutex g_lock;
FILE* g_stream = nullptr;

} // namespace

std::string RunLog::PathFor(const std::string& directory) {
    std::string path = directory;
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path + "/" + kFileName;
}

bool RunLog::Open(const std::string& directory) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_stream) {
        std::fclose(g_stream);
        g_stream = nullptr;
    }
    // An empty directory text would make "/vopal.log": a file at the root,
    // never the program's own place.
    if (directory.empty())
        return false;
    FILE* stream = std::fopen(PathFor(directory).c_str(), "w+");
    if (!stream)
        return false;
    g_stream = stream;
    std::fputs(kHeader, g_stream);
    std::fflush(g_stream);
    return true;
}

void RunLog::Write(const char* format, ...) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_stream)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(g_stream, format, args); // errors are ignored: the run goes on
    va_end(args);
    // Each entry reaches the file at once, so a program that is killed or
    // hangs still leaves what it logged.
    std::fflush(g_stream);
}

void RunLog::Close() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_stream)
        return;
    std::fclose(g_stream);
    g_stream = nullptr;
}

bool RunLog::IsOpen() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_stream != nullptr;
}
