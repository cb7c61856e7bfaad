#include "gui/dialogs/SaveThroughDialog.h"

#include "core/commands/FileErrorMessage.h"
#include "gui/platform/QtMessageBox.h"
#include "platform/win32/FileDialog.h"
#include "platform/win32/MessageBox.h"

void SaveThroughDialog(QWidget* owner, const char* defaultExtension, const char* filter,
                       const std::function<AtomicWriteResult(const std::string& path)>& write) {
    FileDialogRequest request;
    request.save = true;
    request.defaultExtension = defaultExtension;
    request.filter = filter;
    request.overwritePrompt = true;
    request.owner = BoxOwner(owner);
    std::string path;
    if (!RunFileDialog(request, path))
        return;
    // A path without a name part is what a cancelled dialog gives.
    const std::size_t slash = path.rfind('/');
    if (path.empty() || slash == path.size() - 1)
        return;
    const AtomicWriteResult written = write(path);
    if (!written.ok()) {
        const std::string text = FileErrorText(written, path);
        MessageBoxA(BoxOwner(owner), text.c_str(), nullptr, MB_OK | MB_ICONSTOP);
    }
}
