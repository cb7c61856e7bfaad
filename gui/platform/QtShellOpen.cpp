#include "gui/platform/QtShellOpen.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

bool DesktopOpen(const std::string& target) {
    return QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(target)));
}
