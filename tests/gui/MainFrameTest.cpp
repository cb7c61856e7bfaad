// The main window's shell: which command each key gives, the view toggles,
// the status bar, and the about box's link.

#include "platform/win32/ShellOpen.h"
#include "core/res/Resource.h"
#include "gui/shell/CAboutDlg.h"
#include "gui/shell/CMainFrame.h"
#include "gui/shell/CStaticLink.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MachineProbes.h"
#include "gui/view/CTarnelView.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

namespace {

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(frame.OnCreate());
        frame.show();
        frame.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    }
    gui::SettingsSandbox sandbox;
    MachineProbes machine;
    CMainFrame frame{sandbox.settings, {}, machine.probes};
};

TEST_F(MainFrameTest, EachKeyGivesTheFirstCommandOfItsTableRow) {
    struct Case {
        int key;
        Qt::KeyboardModifiers modifiers;
        int command;
    } cases[] = {
        {Qt::Key_A, Qt::ControlModifier, ID_COPY_COMPUTER_NAME},
        {Qt::Key_B, Qt::ControlModifier, ID_DELETE_SILENT_ROWS},
        {Qt::Key_C, Qt::ControlModifier, ID_EDIT_COPY},
        {Qt::Key_H, Qt::ControlModifier, ID_SEARCH},
        {Qt::Key_I, Qt::ControlModifier, ID_COPY_ADDRESS},
        {Qt::Key_M, Qt::ControlModifier, ID_COPY_MAC_ADDRESS},
        {Qt::Key_N, Qt::ControlModifier, ID_FILE_NEW},
        {Qt::Key_R, Qt::ControlModifier, ID_DIAGNOSE},
        {Qt::Key_Backspace, Qt::AltModifier, ID_EDIT_UNDO},
        {Qt::Key_Insert, Qt::ShiftModifier, ID_EDIT_PASTE},
        {Qt::Key_F6, Qt::NoModifier, ID_NEXT_PANE},
    };
    frame.View()->InsertItem(0, "10.0.0.1");
    frame.View()->selectRow(0);
    frame.View()->setFocus();
    QApplication::clipboard()->setText(QStringLiteral("before"));
    // Ctrl+H and Ctrl+R open their dialogs modally: close each one as soon
    // as the window thread waits in it.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    closer.start(0);
    for (const Case& c : cases) {
        // A dialog that has just closed may leave the window inactive.
        frame.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
        QSignalSpy spy(&frame, &CMainFrame::commandIssued);
        QTest::keyClick(frame.View(), Qt::Key(c.key), c.modifiers);
        ASSERT_EQ(spy.count(), 1) << c.command;
        EXPECT_EQ(spy.at(0).at(0).toInt(), c.command);
    }
    // Ctrl+C reaches the framework's copy command, which copies nothing.
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
    EXPECT_EQ(frame.View()->GetItemCount(), 1);
}

TEST_F(MainFrameTest, TheViewTogglesFollowTheBarsAndTheStatusBarIsReady) {
    EXPECT_EQ(frame.PaneTexts().front(), QStringLiteral("ﾚﾃﾞｨ"));
    for (int command : {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR}) {
        QAction* toggle = frame.CommandAction(command);
        QWidget* bar = command == ID_VIEW_TOOLBAR ? static_cast<QWidget*>(frame.ToolBar())
                                                  : frame.statusBar();
        ASSERT_TRUE(toggle->isChecked());
        toggle->trigger();
        EXPECT_FALSE(bar->isVisible());
        EXPECT_FALSE(toggle->isChecked());
        frame.OnCommand(command);
        EXPECT_TRUE(bar->isVisible());
        EXPECT_TRUE(toggle->isChecked());
    }
    // A button with a string shows its prompt; the tool tip is the part after "\n".
    QAction* scan = frame.CommandAction(ID_SCAN_START);
    EXPECT_EQ(scan->statusTip(), QStringLiteral("ネットワーク情報収集の開始"));
    EXPECT_EQ(frame.findChild<QAction*>(QStringLiteral("toolbar%1").arg(ID_OPTIONS))->toolTip(),
              QString());
}

TEST(AboutBoxTest, TheLinkTurnsPurpleOnlyAfterASuccessfulOpen) {
    std::vector<std::string> opened;
    bool succeed = false;
    const ShellOpenHandler opener = [&](const std::string& target) {
        opened.push_back(target);
        return succeed;
    };
    for (int round = 0; round < 2; ++round) {
        CAboutDlg dialog(nullptr, opener);
        dialog.show();
        CStaticLink* link = dialog.m_link;
        ASSERT_NE(link, nullptr);
        EXPECT_EQ(link->objectName(), QStringLiteral("1005"));
        EXPECT_EQ(link->m_color, CStaticLink::kUnvisited); // blue every time the box opens
        EXPECT_TRUE(link->font().underline());
        EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
        succeed = round == 1;
        QTest::mouseClick(link, Qt::LeftButton);
        EXPECT_EQ(link->m_color, succeed ? CStaticLink::kVisited : CStaticLink::kUnvisited);
    }
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].rfind("https://", 0), 0u);
}

} // namespace
