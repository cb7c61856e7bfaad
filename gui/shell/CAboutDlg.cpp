#include "gui/shell/CAboutDlg.h"

#include "gui/res/DialogBuilder.h"
#include "core/res/Resource.h"
#include "core/res/StringTable.h"
#include "gui/shell/CStaticLink.h"

#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent, ShellOpenHandler opener) : QDialog(parent) {
    DialogBuilder::Build(this, IDD_ABOUTBOX);
    m_link = CStaticLink::Attach(DialogBuilder::ControlAs<QLabel>(this, IDC_HOME_PAGE_LINK),
                                 kHomePageAddress, std::move(opener));
    auto* ok = DialogBuilder::ControlAs<QPushButton>(this, IDOK_BUTTON);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
}
