#pragma once
// The about box: the program's name and version, a notice line and a link
// to the home page.

#include "gui/platform/QtShellOpen.h"
#include "platform/win32/ShellOpen.h"

#include <QDialog>

class CStaticLink;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    // `opener` opens the link (the desktop's unless given).
    explicit CAboutDlg(QWidget* parent = nullptr, ShellOpenHandler opener = DesktopOpen);

    CStaticLink* m_link;
};
