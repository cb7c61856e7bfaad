#include "gui/view/ShellCommands.h"

#include "core/commands/NameTableBatch.h"
#include "core/commands/ProgramFiles.h"
#include "core/res/StringTable.h"
#include "core/scan/ResultList.h"
#include "platform/win32/MessageBox.h"
#include "platform/win32/ShellOpen.h"

#include <QProcess>
#include <cstdlib>

namespace {

constexpr std::size_t kCellBuffer = 256;

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    return FindOnPath(name, path ? path : "/usr/local/bin:/usr/bin:/bin");
}

} // namespace

bool StartDetached(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

void RunNetCommand(ResultList& list, int row, const std::string& programDirectory,
                   const DetachedStarter& start) {
    if (row < 0 || row >= list.GetItemCount())
        return;
    const std::string address = list.ReadCell(row, 0, kCellBuffer);
    const std::string& directory = programDirectory;
    const std::string batchPath = directory + kNameTableBatchName;

    NameTableBatchStatus status = NameTableBatchStatus::WriteFailed;
    // Without a program directory the file would land wherever the process
    // happens to stand.
    if (!directory.empty())
        status = WriteNameTableBatch(batchPath, NbtstatPath(ExecutableDirectory()), address);
    if (status == NameTableBatchStatus::NotAnAddress) {
        MessageBoxA(nullptr, "IPアドレスが正しくないため、batファイルを作成しませんでした。",
                    "注意", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (status != NameTableBatchStatus::Written) {
        MessageBoxA(nullptr, "batファイルの作成に失敗", "注意", MB_OK | MB_ICONEXCLAMATION);
        return;
    }

    const std::vector<std::string> command = TerminalCommandLine(batchPath, FindProgram);
    if (command.empty())
        return;
    QStringList arguments;
    for (std::size_t i = 1; i < command.size(); ++i)
        arguments << QString::fromStdString(command[i]);
    start(QString::fromStdString(command[0]), arguments);
}

void OpenHelpFile(const ShellOpenHandler& open) {
    const std::string path = FindHelpFile(ExecutableDirectory());
    if (!path.empty())
        ShellOpen(open, path);
}

void OpenHomePage(const ShellOpenHandler& open) {
    ShellOpen(open, kHomePageAddress);
}
