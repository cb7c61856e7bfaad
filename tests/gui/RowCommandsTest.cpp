// The list's row commands in the main window: the context menu, copying a
// cell, deleting the rows of silent addresses, and the search dialog.

#include "core/settings/ScanSettings.h"
#include "core/res/Resource.h"
#include "gui/shell/CMainFrame.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MachineProbes.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/ModalScript.h"
#include "gui/view/CTarnelView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QStringList Texts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << action->text();
    return texts;
}

QString Clipboard(const char* set = nullptr) {
    if (set)
        QApplication::clipboard()->setText(set);
    return QApplication::clipboard()->text();
}

class RowCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(frame.OnCreate());
        view = frame.View();
        frame.show();
        Reactivate();
        gui::AddRows(*view, {{"192.168.1.10", "○", "PC01", "WORKGROUP", "001122334455", "不明",
                              "PC01/USER1"},
                             {"192.168.1.1", "×"},
                             {"192.168.1.12", "○", "FILESRV", "OFFICE", "00A0C9123456", "Intel"}});
    }
    // Offscreen, the main window stays inactive after a popup or dialog closed.
    void Reactivate() {
        frame.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    }
    QPoint RowPoint(int row) { return view->visualRect(view->model()->index(row, 2)).center(); }
    // The press, then the request, as the window system sends them; chooses
    // the entries of `path` in the menu that opens. False when none opened.
    bool RightClick(QPoint point, const QStringList& path) {
        ModalScript script(true, [&](QWidget* popup) {
            menuEntries = Texts(qobject_cast<QMenu*>(popup));
            for (const QString& text : path) {
                auto* menu = qobject_cast<QMenu*>(popup);
                menu->setActiveAction(menu->actions().value(Texts(menu).indexOf(text)));
                QTest::keyClick(menu, Qt::Key_Return); // opens a submenu on the way
                popup = QApplication::activePopupWidget();
            }
            if (popup)
                popup->close();
        });
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, point);
        QContextMenuEvent request(QContextMenuEvent::Mouse, point,
                                  view->viewport()->mapToGlobal(point));
        QApplication::sendEvent(view->viewport(), &request);
        Reactivate();
        return script.ran();
    }

    gui::SettingsSandbox sandbox;
    MachineProbes machine;
    MessageBoxRecorder boxes;
    CMainFrame frame{sandbox.settings, {}, machine.probes};
    CTarnelView* view = nullptr;
    QStringList menuEntries;
};

TEST_F(RowCommandsTest, CopyCommandsTakeTheCellOfTheLastRightClickedRow) {
    QSignalSpy issued(&frame, &CMainFrame::commandIssued);
    Clipboard("before");
    ASSERT_TRUE(RightClick(RowPoint(2), {"コピー", "IPアドレス(&I)"}));
    EXPECT_EQ(menuEntries, (QStringList{"コピー", "反応しないアドレスを削除(&D)", "検索(&F)",
                                        "診断(&A)", "Net コマンド発行(&N)", "履歴(&H)"}));
    EXPECT_EQ(issued, QList<QVariantList>{{ID_COPY_ADDRESS}}); // through the frame's routing
    EXPECT_EQ(Clipboard(), "192.168.1.12");

    view->selectRow(0); // the selection does not count
    const char* texts[] = {"FILESRV", "OFFICE", "00A0C9123456", "Intel", ""};
    for (int i = 0; int command : {ID_COPY_COMPUTER_NAME, ID_COPY_DOMAIN_NAME, ID_COPY_MAC_ADDRESS,
                                   ID_COPY_VENDOR, ID_COPY_MESSENGER}) {
        Clipboard("before");
        frame.OnCommand(command);
        EXPECT_EQ(Clipboard(), QString::fromUtf8(texts[i++])) << command;
    }
    QTest::keyClick(view, Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(Clipboard(), "192.168.1.12");

    // A request over no row, or from the keyboard, opens no menu and leaves
    // the copy commands nothing to copy.
    for (int how = 0; how < 3; ++how) {
        ASSERT_TRUE(RightClick(RowPoint(0), {}));
        if (how == 0) {
            EXPECT_FALSE(RightClick(RowPoint(2) + QPoint(0, 60), {}));
        } else {
            ModalScript menu(true, [](QWidget* popup) { popup->close(); });
            QTest::keyClick(view, how == 1 ? Qt::Key_Menu : Qt::Key_F10,
                            how == 1 ? Qt::NoModifier : Qt::ShiftModifier);
            EXPECT_FALSE(menu.ran()) << how;
        }
        EXPECT_EQ(view->m_nContextRow, -1) << how;
        Clipboard("before");
        QTest::keyClick(view, Qt::Key_I, Qt::ControlModifier);
        EXPECT_EQ(Clipboard(), "before") << how;
    }
}

TEST_F(RowCommandsTest, DeleteKeepsAnsweringAndUnmarkedRowsWhateverTheSetting) {
    for (int dontDelete : {0, 1}) {
        sandbox.settings.DontDeleteUnresolvedAddress = dontDelete;
        view->DeleteAllItems();
        for (const char* mark : {"×", "○", "×", "×", "", "×"}) // first, last, in a row
            gui::AddRows(*view, {{"10.0.0." + std::to_string(view->GetItemCount() + 1), mark}});
        ASSERT_TRUE(RightClick(RowPoint(1), {"反応しないアドレスを削除(&D)"}));
        ASSERT_EQ(view->GetItemCount(), 2) << dontDelete;
        EXPECT_EQ(view->ReadCell(0, 0, 256) + view->ReadCell(1, 0, 256), "10.0.0.210.0.0.5");
    }
}

// Enter on each text: a hit closes the dialog, selects the row and scrolls to
// it; a miss shows a box and keeps the dialog and text until Cancel, which
// selects the last hit again.
TEST_F(RowCommandsTest, SearchSelectsTheFirstRowHoldingTheText) {
    for (int i = 0; i < 300; ++i)
        view->InsertItem(view->GetItemCount(),
                         "10.1." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 1));
    int lastHit = -1;
    const char* texts[] = {"pc", "×", "168.1.1", "srv", "10.1.1.40", "ｐｃ", "", ""};
    for (int i = 0; int found : {0, 1, 0, 2, 3 + 239, -1, 0, -1}) {
        const char* text = texts[i++];
        if (!*text && found < 0)
            view->DeleteAllItems(); // nothing to find in an empty list
        boxes.clear();
        view->selectRow(1);
        ModalScript script(false, [&](QWidget* dialog) {
            auto* edit = gui::Control<QLineEdit>(dialog, IDC_SEARCH_TEXT);
            EXPECT_EQ(edit->text(), ""); // never remembered
            edit->setText(QString::fromUtf8(text));
            QTest::keyClick(edit, Qt::Key_Return);
            if (!dialog->isVisible())
                return;
            EXPECT_EQ(edit->text(), QString::fromUtf8(text));
            gui::Click(dialog, IDCANCEL_BUTTON);
        });
        if (found > 100)
            ASSERT_TRUE(RightClick(RowPoint(0), {"検索(&F)"}));
        else
            QTest::keyClick(view, Qt::Key_H, Qt::ControlModifier);
        Reactivate();
        ASSERT_TRUE(script.ran()) << text;
        lastHit = found >= 0 ? found : lastHit;
        EXPECT_EQ(view->m_nFoundRow, lastHit) << text;
        const QModelIndexList selected = view->selectionModel()->selectedRows();
        EXPECT_EQ(selected.size() == 1 ? selected.front().row() : -1,
                  view->GetItemCount() ? lastHit : -1)
            << text;
        EXPECT_EQ(frame.focusWidget(), view);
        EXPECT_TRUE(!view->GetItemCount() ||
                    view->viewport()->rect().contains(view->visualRect(view->currentIndex())));
        ASSERT_EQ(boxes.count(), found < 0 ? 1u : 0u) << text;
        if (found < 0) { // owned by the dialog
            const MessageBoxRequest box = boxes.boxes().front();
            EXPECT_EQ(std::tuple(box.text, box.caption, box.type, box.owner == &frame),
                      std::tuple("見つかりませんでした。", "確認", MB_OK, false));
        }
    }
}

} // namespace
