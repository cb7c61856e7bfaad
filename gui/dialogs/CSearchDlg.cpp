#include "gui/dialogs/CSearchDlg.h"

#include "core/commands/CellSearch.h"
#include "core/res/Resource.h"
#include "core/scan/ResultList.h"
#include "gui/platform/QtMessageBox.h"
#include "gui/res/DialogBuilder.h"
#include "platform/win32/MessageBox.h"

#include <QLineEdit>
#include <QPushButton>

namespace {
const char* const kNotFound = "見つかりませんでした。";
const char* const kConfirm = "確認";
} // namespace

CSearchDlg::CSearchDlg(QWidget* parent) : QDialog(parent) {
    DialogBuilder::Build(this, IDD_SEARCH);
    m_edit = DialogBuilder::ControlAs<QLineEdit>(this, IDC_SEARCH_TEXT);
    connect(DialogBuilder::ControlAs<QPushButton>(this, IDC_SEARCH), &QPushButton::clicked, this,
            &CSearchDlg::OnSearch);
    connect(DialogBuilder::ControlAs<QPushButton>(this, IDCANCEL_BUTTON), &QPushButton::clicked,
            this, &CSearchDlg::reject);
    m_edit->setFocus();
}

void CSearchDlg::OnSearch() {
    if (!m_pView)
        return;
    const int row = FindMatchingRow(*m_pView, m_edit->text().toStdString());
    if (row >= 0) {
        m_nFoundRow = row;
        reject(); // the view selects the row after every close, whatever the way
        return;
    }
    MessageBoxA(BoxOwner(this), kNotFound, kConfirm, MB_OK);
}
