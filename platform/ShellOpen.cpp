#include "platform/ShellOpen.h"

#include <mutex>

namespace {
std::mutex g_lock;
ShellOpenHandler g_handler;
} // namespace

ShellOpenHandler SetShellOpenHandler(ShellOpenHandler handler) {
    std::lock_guard<std::mutex> guard(g_lock);
    ShellOpenHandler previous = std::move(g_handler);
    g_handler = std::move(handler);
    return previous;
}

bool ShellOpen(const std::string& target) {
    ShellOpenHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        handler = g_handler;
    }
    return handler && !target.empty() && handler(target);
}
