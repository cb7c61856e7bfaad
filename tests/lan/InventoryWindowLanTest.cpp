// The window's memory of the test LAN: two scans from the scan start dialog
// with a host renamed in between. After the second, the status bar counts
// the change and 前回との比較 lists it.

#include "core/res/Resource.h"
#include "gui/dialogs/CScanStartDlg.h"
#include "gui/shell/CMainFrame.h"
#include "gui/view/CTarnelView.h"
#include "gui/view/ScanMemory.h"
#include "tests/lan/LanTest.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MachineProbes.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/ModalScript.h"

#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

namespace {

class InventoryWindowLanTest : public LanTest {
protected:
    void SetUp() override {
        LanTest::SetUp();
        sandbox.settings.PingTimeout = 1000;
        sandbox.settings.MaxThread = 15;
        sandbox.settings.RecordScans = 1;
        TempDir::WriteFile(sandbox.settings.IpListFileName, "198.18.0.2,198.18.0.40\r\n");
        ASSERT_TRUE(frame.OnCreate());
        frame.show();
    }

    std::string Pane() {
        return frame.statusBar()->findChild<QLabel*>("inventoryPane")->text().toStdString();
    }

    // One whole scan from the scan start dialog, and its record.
    void Scan() {
        ModalScript script(false, [](QWidget* dialog) {
            gui::Click(dialog, IDC_START);
            gui::WaitFor([dialog] { return gui::Control(dialog, IDC_CLOSE)->isEnabled(); },
                         120000);
            gui::Click(dialog, IDC_CLOSE);
        });
        frame.OnCommand(ID_SCAN_START);
        ASSERT_TRUE(script.ran());
        ASSERT_TRUE(gui::WaitFor([this] { return frame.View()->Memory()->Pending() == 0; }, 20000));
        EXPECT_EQ(boxes.count(), 0u);
    }

    gui::SettingsSandbox sandbox;
    MachineProbes machine;
    MessageBoxRecorder boxes;
    CMainFrame frame{sandbox.settings, {}, machine.probes};
};

TEST_F(InventoryWindowLanTest, ASecondScanShowsARenameInTheStatusBarAndTheComparison) {
    const std::size_t answering =
        lan().WithRole(TestLanHost::Role::Nmbd).size() + lan().WithRole(TestLanHost::Role::PingOnly).size();
    ASSERT_NO_FATAL_FAILURE(Scan());
    EXPECT_EQ(Pane(), "前回との比較: 新規 " + std::to_string(answering) + "・消失 0・変更 0");

    const TestLanHost renamed = lan().WithRole(TestLanHost::Role::Nmbd).front();
    ASSERT_EQ(ChangeLan("rename " + renamed.address + " KDRENAMED"), 0);
    ASSERT_NO_FATAL_FAILURE(Scan());
    EXPECT_EQ(Pane(), "前回との比較: 新規 0・消失 0・変更 1");

    std::vector<std::string> rows;
    ModalScript script(false, [&](QWidget* dialog) {
        auto* list = gui::Control<QTreeWidget>(dialog, IDC_INVENTORY_LIST);
        for (int i = 0; list && i < list->topLevelItemCount(); ++i) {
            QStringList cells;
            for (int column = 0; column < 5; ++column)
                cells << list->topLevelItem(i)->text(column);
            rows.push_back(cells.join('|').toStdString());
        }
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    frame.OnCommand(ID_SHOW_CHANGES);
    ASSERT_TRUE(script.ran());
    const std::string mac = renamed.MacHex();
    EXPECT_EQ(rows, (std::vector<std::string>{"名前変更|" + renamed.address + "|" + mac + "|" +
                                              renamed.name + "/" + renamed.workgroup +
                                              "|KDRENAMED/" + renamed.workgroup}));
}

} // namespace
