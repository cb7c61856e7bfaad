#include "platform/win32/FileDialog.h"

#include "platform/win32/ReplaceableHandler.h"

namespace {
ReplaceableHandler<FileDialogHandler> g_handler;
} // namespace

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) {
    return g_handler.Set(std::move(handler));
}

bool RunFileDialog(const FileDialogRequest& request, std::string& chosen) {
    const FileDialogHandler handler = g_handler.Get();
    chosen.clear();
    return handler ? handler(request, chosen) : false;
}
