#include "gui/platform/QtFileDialog.h"

#include "platform/win32/FileDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

QString QtFilterOf(const std::string& filter) {
    const QStringList pieces = QString::fromStdString(filter).split('|');
    QStringList filters;
    for (int i = 0; i + 1 < pieces.size(); i += 2) {
        if (pieces[i].isEmpty())
            continue;
        QStringList patterns = pieces[i + 1].split(';', Qt::SkipEmptyParts);
        for (QString& p : patterns)
            if (p == "*.*")
                p = "*";
        // The display text of a filter often names its patterns already
        // ("テキストファイル(*.txt)"); Qt wants them once, space-separated, at the end.
        QString display = pieces[i];
        if (display.endsWith(')') && display.contains('('))
            display.truncate(display.lastIndexOf('('));
        filters << QStringLiteral("%1 (%2)").arg(display.trimmed(), patterns.join(' '));
    }
    return filters.join(";;");
}

void InstallQtFileDialogs() {
    SetFileDialogHandler([](const FileDialogRequest& request, std::string& chosen) {
        QFileDialog dialog(static_cast<QWidget*>(request.owner));
        dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        dialog.setNameFilters(QtFilterOf(request.filter).split(";;", Qt::SkipEmptyParts));
        if (!request.defaultExtension.empty())
            dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
        if (!request.fileName.empty()) {
            const QFileInfo info(QString::fromStdString(request.fileName));
            if (info.isDir()) {
                dialog.setDirectory(info.absoluteFilePath());
            } else {
                dialog.setDirectory(info.absolutePath());
                dialog.selectFile(info.fileName());
            }
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return false;
        chosen = dialog.selectedFiles().front().toStdString();
        return true;
    });
}
