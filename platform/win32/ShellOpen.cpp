#include "platform/win32/ShellOpen.h"

#include "platform/win32/ReplaceableHandler.h"

namespace {
ReplaceableHandler<ShellOpenHandler> g_handler;
} // namespace

ShellOpenHandler SetShellOpenHandler(ShellOpenHandler handler) {
    return g_handler.Set(std::move(handler));
}

bool ShellOpen(const std::string& target) {
    const ShellOpenHandler handler = g_handler.Get();
    return handler && !target.empty() && handler(target);
}
