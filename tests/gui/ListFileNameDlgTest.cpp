// The list file name dialog: the checks of OK, the typing limit, Browse.

#include "platform/win32/FileDialog.h"
#include "gui/dialogs/CListFileNameDlg.h"
#include "core/res/Resource.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MessageBoxRecorder.h"

#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using gui::Click;
using gui::Control;

class ListFileNameDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        sandbox.settings.IpListFileName = "/old/iplist.lst";
        m_previous =
            SetFileDialogHandler([this](const FileDialogRequest& request, std::string& chosen) {
                requests.push_back(request);
                chosen = answer;
                return !answer.empty();
            });
    }
    void TearDown() override { SetFileDialogHandler(m_previous); }

    QLineEdit* Edit(const QWidget* dialog) {
        return Control<QLineEdit>(dialog, IDC_LIST_FILE_NAME);
    }

    gui::SettingsSandbox sandbox;
    MessageBoxRecorder boxes;
    std::vector<FileDialogRequest> requests;
    std::string answer;

private:
    FileDialogHandler m_previous;
};

TEST_F(ListFileNameDlgTest, OkChecksTheNameBeforeItIsStored) {
    struct Case {
        const char* text;
        const char* message; // null: stored
    } cases[] = {
        {"", "ファイル名を入力してください。"},
        {"/tmp/a*b.lst", "ファイル名に使用できない文字が含まれまれています。"},
        {"list?.lst", "ファイル名に使用できない文字が含まれまれています。"},
        {"a|b", "ファイル名に使用できない文字が含まれまれています。"},
        {"/home/admin/lists/iplist.lst", nullptr}, // directories are separated by '/'
        {"ポ表\\C:\"x y.lst", nullptr}, // CP932 second bytes 0x7C and 0x5C are not '|' or '\'
    };
    for (const Case& c : cases) {
        sandbox.settings.IpListFileName = "/old/iplist.lst";
        boxes.clear();
        CListFileNameDlg dialog(sandbox.settings.IpListFileName);
        dialog.show();
        Edit(&dialog)->setText(QString::fromUtf8(c.text));
        Click(&dialog, IDOK_BUTTON);
        if (c.message) {
            ASSERT_EQ(boxes.count(), 1u) << c.text;
            EXPECT_EQ(boxes.boxes()[0].text, c.message);
            EXPECT_EQ(boxes.boxes()[0].caption, "Kestrune.A");
            EXPECT_EQ(boxes.boxes()[0].type, MB_OK | MB_ICONEXCLAMATION);
            EXPECT_EQ(boxes.boxes()[0].owner, static_cast<void*>(static_cast<QWidget*>(&dialog)));
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_EQ(sandbox.settings.IpListFileName, "/old/iplist.lst");
        } else {
            EXPECT_EQ(boxes.count(), 0u) << c.text;
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(sandbox.settings.IpListFileName, c.text);
        }
    }
}

TEST_F(ListFileNameDlgTest, TypingStopsAtAHundredCharactersButChosenPathsStayWhole) {
    CListFileNameDlg dialog(sandbox.settings.IpListFileName);
    dialog.show();
    QLineEdit* edit = Edit(&dialog);
    edit->clear();
    QTest::keyClicks(edit, QString(120, QChar('a')));
    EXPECT_EQ(edit->text().size(), 100);

    answer = "/" + std::string(200, 'b') + "/iplist.lst";
    Click(&dialog, IDC_BROWSE);
    EXPECT_EQ(edit->text().toStdString(), answer);
    QTest::keyClick(edit, Qt::Key_Backspace); // a long text may still be shortened
    EXPECT_EQ(edit->text().size(), static_cast<int>(answer.size()) - 1);
    QTest::keyClicks(edit, "cd"); // but not lengthened
    EXPECT_EQ(edit->text().size(), static_cast<int>(answer.size()) - 1);
    // Cancel after Browse keeps the stored name.
    Click(&dialog, IDCANCEL_BUTTON);
    EXPECT_EQ(sandbox.settings.IpListFileName, "/old/iplist.lst");
}

TEST_F(ListFileNameDlgTest, BrowseStartsFromAnExistingFileAndACancelChangesNothing) {
    CListFileNameDlg dialog(sandbox.settings.IpListFileName);
    Click(&dialog, IDC_BROWSE); // the stored file does not exist
    sandbox.settings.IpListFileName = sandbox.dir.file("iplist.lst");
    TempDir::WriteFile(sandbox.settings.IpListFileName, "");
    Click(&dialog, IDC_BROWSE);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].fileName, "");
    EXPECT_EQ(requests[1].fileName, sandbox.settings.IpListFileName);
    EXPECT_FALSE(requests[1].save);
    EXPECT_EQ(Edit(&dialog)->text().toStdString(), "/old/iplist.lst");
}

} // namespace
