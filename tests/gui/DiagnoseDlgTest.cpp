// The diagnose dialog: what runs leave in the fields, texts that are no
// address, the dialog while its probes are out, and the command that opens it.

#include "core/res/Resource.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MachineProbes.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/ModalScript.h"
#include "tests/support/ScriptedNodeStatusProbes.h"
#include "gui/dialogs/CDiagnoseDlg.h"
#include "gui/view/CTarnelView.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using gui::Control;
using Strings = std::vector<std::string>;

const std::string kTimedOut = "PING応答なし\r\n失敗：エラーコード：5\r\nnetbios:タイムアウト\r\n";

const int kFields[] = {IDC_DIAGNOSE_DOMAIN, IDC_DIAGNOSE_COMPUTER, IDC_DIAGNOSE_MAC,
                       IDC_DIAGNOSE_VENDOR, IDC_DIAGNOSE_MESSENGER};

// The fields, then the result box as shown.
Strings Shown(const QWidget* dialog) {
    Strings shown;
    for (int id : kFields)
        shown.push_back(Control<QLineEdit>(dialog, id)->text().toStdString());
    shown.push_back(
        Control<QPlainTextEdit>(dialog, IDC_DIAGNOSE_RESULT)->toPlainText().toStdString());
    return shown;
}

std::vector<bool> RunControlsEnabled(const QWidget* dialog) {
    return {Control(dialog, IDC_DIAGNOSE_RUN)->isEnabled(),
            Control(dialog, IDC_DIAGNOSE_ADDRESS)->isEnabled(),
            Control(dialog, IDCANCEL_BUTTON)->isEnabled()};
}

class DiagnoseDlgTest : public ::testing::Test {
protected:
    void Run(CDiagnoseDlg& dialog, const char* address = nullptr) {
        if (address)
            Control<QLineEdit>(&dialog, IDC_DIAGNOSE_ADDRESS)->setText(address);
        gui::Click(&dialog, IDC_DIAGNOSE_RUN);
        ASSERT_TRUE(gui::WaitFor([&] { return !dialog.Running(); }));
        EXPECT_EQ(RunControlsEnabled(&dialog), (std::vector<bool>{true, true, true}));
    }

    gui::SettingsSandbox sandbox;
    MachineProbes machine;
    MessageBoxRecorder boxes;
    ScriptedNodeStatusProbes probes;
};

TEST_F(DiagnoseDlgTest, FailedRunsAndAbsentNamesLeaveTheFieldsTheResultShowsTheLastRunOnly) {
    // Both switches say the opposite of what the dialog does.
    sandbox.settings.IgnoreNicVendorId = 1;
    sandbox.settings.IgnoreWorkstationService = 0;
    sandbox.settings.LanaNumber = 2;
    const std::vector<ScriptedHost::Name> names = {
        {"PC01", 0x00}, {"PC01", 0x03}, {"OFFICE", 0x00, true}, {"ADMIN", 0x03}};
    probes.hosts["10.0.0.1"] = {true, 0, {0x00, 0x00, 0x0C, 1, 2, 3}, names};
    probes.hosts["10.0.0.3"] = {false, 0, {0x08, 0x00, 0x09, 0xAA, 0xBB, 0xCC}, {{"PRN", 0x20}}};

    CDiagnoseDlg dialog("10.0.0.1", sandbox.settings, probes);
    dialog.show();
    for (int id : kFields)
        EXPECT_FALSE(Control(&dialog, id)->isEnabled()) << id;
    EXPECT_FALSE(Control(&dialog, IDC_DIAGNOSE_RESULT)->isEnabled());

    Run(dialog);
    EXPECT_EQ(Shown(&dialog),
              (Strings{"OFFICE", "PC01", "00000C010203", "CISCO", "ADMIN", "PING応答あり\n完了"}));
    // The user types another address: both probes of the run use it.
    Run(dialog, "10.0.0.9");
    EXPECT_EQ(dialog.ResultText(), kTimedOut);
    EXPECT_EQ(Shown(&dialog),
              (Strings{"OFFICE", "PC01", "00000C010203", "CISCO", "ADMIN",
                       "PING応答なし\n失敗：エラーコード：5\nnetbios:タイムアウト\n"}));
    // An answer without <00> names keeps the names, shows the rest.
    Run(dialog, "10.0.0.3");
    EXPECT_EQ(Shown(&dialog),
              (Strings{"OFFICE", "PC01", "080009AABBCC", "HP", "", "PING応答なし\n完了"}));

    EXPECT_EQ(probes.Calls(),
              (Strings{"ping 10.0.0.1", "query 10.0.0.1 lana 2", "ping 10.0.0.9",
                       "query 10.0.0.9 lana 2", "ping 10.0.0.3", "query 10.0.0.3 lana 2"}));
    EXPECT_EQ(dialog.m_strAddress, "10.0.0.1");
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(DiagnoseDlgTest, ATextThatIsNoAddressEndsWithItsResultAndTheControlsBack) {
    // The real probes: none of these is an address, so nothing is sent.
    for (const char* text : {"", "PC01", "999.1.1.1", "1.2.3.4.5", "ｱﾄﾞﾚｽ"}) {
        SCOPED_TRACE(text);
        CDiagnoseDlg dialog(text, sandbox.settings, machine.probes);
        dialog.show();
        Run(dialog);
        EXPECT_EQ(dialog.ResultText(), "PING応答なし\r\n失敗：エラーコード：20\r\n"
                                       "netbios:呼ばれた名前が見つかりませんでした\r\n");
    }
}

TEST_F(DiagnoseDlgTest, WhileTheProbesAreOutTheDialogServesEventsButCannotBeClosed) {
    CDiagnoseDlg dialog("10.0.0.7", sandbox.settings, probes);
    dialog.show();
    probes.Hold(true);
    gui::Click(&dialog, IDC_DIAGNOSE_RUN);
    // The click came back while the echo is held: the probes run elsewhere.
    ASSERT_TRUE(gui::WaitFor([&] { return probes.Waiting(); }));
    EXPECT_EQ(RunControlsEnabled(&dialog), (std::vector<bool>{false, false, false}));

    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.close();
    dialog.reject();
    QApplication::processEvents();
    EXPECT_TRUE(dialog.isVisible());

    probes.Hold(false);
    ASSERT_TRUE(gui::WaitFor([&] { return !dialog.Running(); }));
    EXPECT_EQ(dialog.ResultText(), kTimedOut);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
}

// The dialog owns its run's thread: going away, it stops the run and waits
// for it, so nothing runs on after it with the probes it was given.
TEST_F(DiagnoseDlgTest, ADialogThatGoesAwayStopsItsRunAndWaitsForIt) {
    {
        CDiagnoseDlg dialog("10.0.0.7", sandbox.settings, probes);
        dialog.show();
        probes.Hold(true);
        gui::Click(&dialog, IDC_DIAGNOSE_RUN);
        ASSERT_TRUE(gui::WaitFor([&] { return probes.Waiting(); }));
    }
    EXPECT_FALSE(probes.Waiting());
    probes.Hold(false);
}

TEST_F(DiagnoseDlgTest, TheCommandOpensOnTheAddressOfTheLastRightClickedRow) {
    CTarnelView view(sandbox.settings, machine.probes);
    view.InsertItem(0, "192.168.1.10");
    view.InsertItem(1, "192.168.1.11");
    for (auto [row, address] :
         {std::pair{1, "192.168.1.11"}, {0, "192.168.1.10"}, {-1, ""}, {2, ""}}) {
        view.m_nContextRow = row;
        std::string shown = "(no dialog)";
        ModalScript script(false, [&](QWidget* dialog) {
            shown = Control<QLineEdit>(dialog, IDC_DIAGNOSE_ADDRESS)->text().toStdString();
            qobject_cast<CDiagnoseDlg*>(dialog)->reject();
        });
        EXPECT_TRUE(view.OnCommand(ID_DIAGNOSE));
        EXPECT_EQ(shown, address) << row;
    }
}

} // namespace
