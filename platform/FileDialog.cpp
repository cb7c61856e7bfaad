#include "platform/FileDialog.h"

#include <mutex>

namespace {
std::mutex g_lock;
FileDialogHandler g_handler;
} // namespace

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) {
    std::lock_guard<std::mutex> guard(g_lock);
    FileDialogHandler previous = std::move(g_handler);
    g_handler = std::move(handler);
    return previous;
}

bool RunFileDialog(const FileDialogRequest& request, std::string& chosen) {
    FileDialogHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        handler = g_handler;
    }
    chosen.clear();
    return handler ? handler(request, chosen) : false;
}
