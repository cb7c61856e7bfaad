#include "platform/ShellOpen.h"

#include "platform/ReplaceableHandler.h"

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
