// The diagnose dialog: what two runs leave in the fields, texts that are no
// address, the dialog while its probes are out, and the command that opens it.

#include "res/Resource.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/ScriptedNodeStatusProbes.h"
#include "view/CDiagnoseDlg.h"
#include "view/CTarnelView.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using gui::Click;
using gui::Control;

const int kValueFields[] = {IDC_DIAGNOSE_DOMAIN, IDC_DIAGNOSE_COMPUTER, IDC_DIAGNOSE_MAC,
                            IDC_DIAGNOSE_VENDOR, IDC_DIAGNOSE_MESSENGER};

std::string Text(const QWidget* dialog, int id) {
    if (auto* edit = Control<QLineEdit>(dialog, id))
        return edit->text().toStdString();
    return Control<QPlainTextEdit>(dialog, id)->toPlainText().toStdString();
}

std::vector<std::string> Values(const QWidget* dialog) {
    std::vector<std::string> values;
    for (int id : kValueFields)
        values.push_back(Text(dialog, id));
    return values;
}

std::vector<bool> RunControlsEnabled(const QWidget* dialog) {
    return {Control(dialog, IDC_DIAGNOSE_RUN)->isEnabled(),
            Control(dialog, IDC_DIAGNOSE_ADDRESS)->isEnabled(),
            Control(dialog, IDCANCEL_BUTTON)->isEnabled()};
}

class DiagnoseDlgTest : public ::testing::Test {
protected:
    void Run(CDiagnoseDlg& dialog) {
        Click(&dialog, IDC_DIAGNOSE_RUN);
        ASSERT_TRUE(gui::WaitFor([&] { return !dialog.Running(); }));
    }

    gui::SettingsSandbox sandbox;
    MessageBoxRecorder boxes;
    ScriptedNodeStatusProbes probes;
};

TEST_F(DiagnoseDlgTest, ASecondRunThatFailsKeepsTheFirstValuesAndShowsOnlyItsOwnResult) {
    ScriptedHost host;
    host.echo = true;
    host.code = 0;
    host.mac = {0x00, 0x00, 0x0C, 0x01, 0x02, 0x03};
    host.names = {{"PC01", 0x00, false},
                  {"PC01", 0x03, false},
                  {"OFFICE", 0x00, true},
                  {"ADMIN", 0x03, false}};
    probes.hosts["10.0.0.1"] = host;
    ScanSettings.LanaNumber = 2;

    CDiagnoseDlg dialog("10.0.0.1", probes);
    dialog.show();
    EXPECT_EQ(Text(&dialog, IDC_DIAGNOSE_ADDRESS), "10.0.0.1");
    for (int id : kValueFields)
        EXPECT_FALSE(Control(&dialog, id)->isEnabled()) << id;
    EXPECT_FALSE(Control(&dialog, IDC_DIAGNOSE_RESULT)->isEnabled());

    Run(dialog);
    const std::vector<std::string> first{"OFFICE", "PC01", "00000C010203", "CISCO", "ADMIN"};
    EXPECT_EQ(Values(&dialog), first);
    EXPECT_EQ(Text(&dialog, IDC_DIAGNOSE_RESULT), "PING応答あり\n完了");

    // The user types another address: both probes of the next run use it.
    Control<QLineEdit>(&dialog, IDC_DIAGNOSE_ADDRESS)->setText("10.0.0.9");
    Run(dialog);
    EXPECT_EQ(Values(&dialog), first);
    EXPECT_EQ(dialog.ResultText(),
              "PING応答なし\r\n失敗：エラーコード：5\r\nnetbios:タイムアウト\r\n");
    EXPECT_EQ(Text(&dialog, IDC_DIAGNOSE_RESULT),
              "PING応答なし\n失敗：エラーコード：5\nnetbios:タイムアウト\n");
    EXPECT_EQ(RunControlsEnabled(&dialog), (std::vector<bool>{true, true, true}));

    // A host that answers without <00> names: the name fields keep the first
    // run's names, the others show this host.
    ScriptedHost nameless;
    nameless.code = 0;
    nameless.mac = {0x08, 0x00, 0x09, 0xAA, 0xBB, 0xCC};
    nameless.names = {{"PRINTER", 0x20, false}};
    probes.hosts["10.0.0.3"] = nameless;
    Control<QLineEdit>(&dialog, IDC_DIAGNOSE_ADDRESS)->setText("10.0.0.3");
    Run(dialog);
    EXPECT_EQ(Values(&dialog),
              (std::vector<std::string>{"OFFICE", "PC01", "080009AABBCC", "HP", ""}));
    EXPECT_EQ(dialog.ResultText(), "PING応答なし\r\n完了");

    EXPECT_EQ(probes.Pinged(), (std::vector<std::string>{"10.0.0.1", "10.0.0.9", "10.0.0.3"}));
    ASSERT_EQ(probes.Queried().size(), 3u);
    EXPECT_EQ(probes.Queried()[1].address, "10.0.0.9");
    EXPECT_EQ(probes.Queried()[1].lana, 2);
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(dialog.m_strAddress, "10.0.0.1");
}

TEST_F(DiagnoseDlgTest, ATextThatIsNoAddressEndsWithItsResultAndTheControlsBack) {
    // The real probes: none of these texts is an address, so nothing is sent.
    for (const char* text : {"", "PC01", "999.1.1.1", "1.2.3.4.5", "ｱﾄﾞﾚｽ"}) {
        SCOPED_TRACE(text);
        CDiagnoseDlg dialog(text);
        dialog.show();
        Run(dialog);
        EXPECT_EQ(dialog.ResultText(), "PING応答なし\r\n失敗：エラーコード：20\r\n"
                                       "netbios:呼ばれた名前が見つかりませんでした\r\n");
        EXPECT_EQ(Values(&dialog), std::vector<std::string>(5));
        EXPECT_EQ(RunControlsEnabled(&dialog), (std::vector<bool>{true, true, true}));
    }
}

TEST_F(DiagnoseDlgTest, WhileTheProbesAreOutTheDialogServesEventsButCannotBeClosed) {
    CDiagnoseDlg dialog("10.0.0.7", probes);
    dialog.show();
    probes.Hold();
    Click(&dialog, IDC_DIAGNOSE_RUN);
    // The click came back while the echo is still held: the probes run elsewhere.
    EXPECT_TRUE(dialog.Running());
    ASSERT_TRUE(gui::WaitFor([&] { return probes.Waiting(); }));
    EXPECT_EQ(RunControlsEnabled(&dialog), (std::vector<bool>{false, false, false}));

    bool timerServed = false;
    QTimer::singleShot(0, [&] { timerServed = true; });
    ASSERT_TRUE(gui::WaitFor([&] { return timerServed; }));

    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.close();
    dialog.reject();
    Click(&dialog, IDCANCEL_BUTTON);
    QApplication::processEvents();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);

    probes.Release();
    ASSERT_TRUE(gui::WaitFor([&] { return !dialog.Running(); }));
    EXPECT_EQ(dialog.ResultText(),
              "PING応答なし\r\n失敗：エラーコード：5\r\nnetbios:タイムアウト\r\n");
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(DiagnoseDlgTest, TheCommandOpensOnTheAddressOfTheLastRightClickedRow) {
    CTarnelView view;
    view.InsertItem(0, "192.168.1.10");
    view.InsertItem(1, "192.168.1.11");
    struct Case {
        int row;
        std::string address;
    } cases[] = {{1, "192.168.1.11"}, {0, "192.168.1.10"}, {-1, ""}, {2, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        view.m_nContextRow = c.row;
        std::string shown = "(no dialog)";
        QTimer::singleShot(0, [&] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<CDiagnoseDlg*>(top);
                if (dialog && dialog->isVisible()) {
                    shown = Text(dialog, IDC_DIAGNOSE_ADDRESS);
                    dialog->reject();
                }
            }
        });
        EXPECT_TRUE(view.OnCommand(ID_DIAGNOSE));
        EXPECT_EQ(shown, c.address);
    }
}

} // namespace
