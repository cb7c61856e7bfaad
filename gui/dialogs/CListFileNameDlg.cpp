#include "gui/dialogs/CListFileNameDlg.h"

#include "core/res/Resource.h"
#include "gui/platform/QtMessageBox.h"
#include "gui/res/DialogBuilder.h"
#include "gui/res/EditTypingLimit.h"
#include "platform/win32/FileDialog.h"
#include "platform/win32/MessageBox.h"

#include <QLineEdit>
#include <QPushButton>
#include <sys/stat.h>

namespace {

const char* const kEnterName = "ファイル名を入力してください。";
const char* const kBadCharacter = "ファイル名に使用できない文字が含まれまれています。";
const char* const kFilter =
    "テキストファイル(*.txt;*.csv;*.lst)|*.txt;*.csv;*.lst|すべてのファイル(*.*)|*.*|";

} // namespace

CListFileNameDlg::CListFileNameDlg(std::string& listFileName, QWidget* parent)
    : QDialog(parent), m_listFileName(listFileName) {
    DialogBuilder::Build(this, IDD_LIST_FILE_NAME);
    m_edit = DialogBuilder::ControlAs<QLineEdit>(this, IDC_LIST_FILE_NAME);
    m_edit->setText(QString::fromStdString(m_listFileName));
    EditTypingLimit::Of(m_edit)->SetLength(kTypingLimit);
    m_edit->setCursorPosition(0);
    connect(DialogBuilder::ControlAs<QPushButton>(this, IDC_BROWSE), &QPushButton::clicked, this,
            &CListFileNameDlg::OnBrowse);
    connect(DialogBuilder::ControlAs<QPushButton>(this, IDOK_BUTTON), &QPushButton::clicked, this,
            &CListFileNameDlg::accept);
    connect(DialogBuilder::ControlAs<QPushButton>(this, IDCANCEL_BUTTON), &QPushButton::clicked,
            this, &CListFileNameDlg::reject);
    m_edit->setFocus();
}

const char* CListFileNameDlg::CheckFileName(const std::string& text) {
    if (text.empty())
        return kEnterName;
    // '/' separates directories here and is a legal part of a path. UTF-8
    // never uses these byte values inside a multibyte character.
    if (text.find_first_of("*?<>|") != std::string::npos)
        return kBadCharacter;
    return nullptr;
}

void CListFileNameDlg::accept() {
    const std::string text = m_edit->text().toStdString();
    if (const char* problem = CheckFileName(text)) {
        MessageBoxA(BoxOwner(this), problem, nullptr, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    m_listFileName = text;
    QDialog::accept();
}

void CListFileNameDlg::OnBrowse() {
    FileDialogRequest request;
    struct stat info;
    if (::stat(m_listFileName.c_str(), &info) == 0)
        request.fileName = m_listFileName;
    request.filter = kFilter;
    std::string chosen;
    if (!RunFileDialog(request, chosen))
        return;
    const std::size_t slash = chosen.rfind('/');
    const std::string name = slash == std::string::npos ? chosen : chosen.substr(slash + 1);
    if (name.empty())
        return;
    m_edit->setText(QString::fromStdString(chosen));
}
