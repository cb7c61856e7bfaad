#pragma once
// The about box: the program's name and version, a notice line and a link
// to the home page.

#include <QDialog>

class CStaticLink;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    CStaticLink* m_link;
};
