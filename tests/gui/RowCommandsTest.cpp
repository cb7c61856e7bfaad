// The list's row commands in the main window: the context menu, copying a
// cell, deleting the rows of silent addresses, and the search dialog.

#include "app/ScanSettings.h"
#include "res/Resource.h"
#include "shell/CMainFrame.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/ModalScript.h"
#include "view/CTarnelView.h"

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

QString Clipboard() {
    return QApplication::clipboard()->text();
}

class RowCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(frame.OnCreate());
        view = frame.View();
        frame.show();
        Reactivate();
        QApplication::clipboard()->setText("before");
        gui::AddRows(*view, {{"192.168.1.10", "○", "PC01", "WORKGROUP", "001122334455", "不明",
                              "PC01/USER1"},
                             {"192.168.1.1", "×"},
                             {"192.168.1.12", "○", "FILESRV", "OFFICE", "00A0C9123456", "Intel"}});
    }
    // The offscreen platform leaves the main window inactive after a popup or
    // a dialog has closed; a desktop gives it back its activation.
    void Reactivate() {
        frame.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    }
    QPoint RowPoint(int row) { return view->visualRect(view->model()->index(row, 2)).center(); }
    // A right-click as the window system sends it: the press, then the request.
    // Chooses the entries of `path` in the menu that opens; false when none did.
    bool RightClick(QPoint point, const QStringList& path) {
        ModalScript script(ModalScript::ActivePopup, [&](QWidget* popup) {
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
    MessageBoxRecorder boxes;
    CMainFrame frame;
    CTarnelView* view = nullptr;
    QStringList menuEntries;
};

TEST_F(RowCommandsTest, CopyCommandsTakeTheCellOfTheLastRightClickedRow) {
    QSignalSpy issued(&frame, &CMainFrame::commandIssued);
    ASSERT_TRUE(RightClick(RowPoint(2), {"コピー", "IPアドレス(&I)"}));
    EXPECT_EQ(menuEntries, (QStringList{"コピー", "反応しないアドレスを削除(&D)", "検索(&F)",
                                        "診断(&A)", "Net コマンド発行(&N)"}));
    ASSERT_EQ(issued.count(), 1); // through the frame's routing
    EXPECT_EQ(issued.at(0).at(0).toInt(), ID_COPY_ADDRESS);
    EXPECT_EQ(Clipboard(), "192.168.1.12");

    view->selectRow(0); // the selection does not count
    const std::pair<int, const char*> cases[] = {
        {ID_COPY_ADDRESS, "192.168.1.12"}, {ID_COPY_COMPUTER_NAME, "FILESRV"},
        {ID_COPY_DOMAIN_NAME, "OFFICE"},   {ID_COPY_MAC_ADDRESS, "00A0C9123456"},
        {ID_COPY_VENDOR, "Intel"},         {ID_COPY_MESSENGER, ""},
    };
    for (const auto& [command, text] : cases) {
        QApplication::clipboard()->setText("before");
        frame.OnCommand(command);
        EXPECT_EQ(Clipboard(), QString::fromUtf8(text)) << command;
    }
    QTest::keyClick(view, Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(Clipboard(), "192.168.1.12");

    // A request over no row, or from the keyboard, opens no menu and leaves
    // the copy commands nothing to copy.
    const std::pair<const char*, std::function<void()>> requests[] = {
        {"below the rows", [&] { EXPECT_FALSE(RightClick(RowPoint(2) + QPoint(0, 60), {})); }},
        {"menu key", [&] { QTest::keyClick(view, Qt::Key_Menu); }},
        {"Shift+F10", [&] { QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier); }},
    };
    for (const auto& [what, request] : requests) {
        ASSERT_TRUE(RightClick(RowPoint(0), {}));
        EXPECT_EQ(view->m_nContextRow, 0);
        ModalScript menu(ModalScript::ActivePopup, [](QWidget* popup) { popup->close(); });
        request();
        EXPECT_FALSE(menu.ran()) << what;
        EXPECT_EQ(view->m_nContextRow, -1) << what;
        QApplication::clipboard()->setText("before");
        QTest::keyClick(view, Qt::Key_I, Qt::ControlModifier);
        EXPECT_EQ(Clipboard(), "before") << what;
    }
}

TEST_F(RowCommandsTest, DeleteKeepsAnsweringAndUnmarkedRowsWhateverTheSetting) {
    for (int dontDelete : {0, 1}) {
        ScanSettings.DontDeleteUnresolvedAddress = dontDelete;
        view->DeleteAllItems();
        gui::AddRows(*view, {{"10.0.0.1", "×"},
                             {"10.0.0.2", "○"},
                             {"10.0.0.3", "×"},
                             {"10.0.0.4", "×"},
                             {"10.0.0.5"},
                             {"10.0.0.6", "×"}});
        ASSERT_TRUE(RightClick(RowPoint(1), {"反応しないアドレスを削除(&D)"}));
        ASSERT_EQ(view->GetItemCount(), 2) << dontDelete;
        EXPECT_EQ(view->ReadCell(0, 0, 256), "10.0.0.2");
        EXPECT_EQ(view->ReadCell(1, 0, 256), "10.0.0.5");
    }
}

// Types each text into the dialog that Ctrl+H opens and presses Enter: a hit
// closes the dialog and selects the row, else a box says so and the dialog
// stays open with the text until Cancel, which selects the last hit again.
TEST_F(RowCommandsTest, SearchSelectsTheFirstRowHoldingTheText) {
    const std::pair<const char*, int> cases[] = {
        {"pc", 0}, {"×", 1}, {"168.1.1", 0}, {"srv", 2}, {"ｐｃ", -1}, {"", 0}, {"", -1},
    };
    int lastHit = -1;
    for (const auto& [text, found] : cases) {
        if (QString(text).isEmpty() && found < 0)
            view->DeleteAllItems(); // nothing to find in an empty list
        boxes.clear();
        view->selectRow(1);
        ModalScript script(ModalScript::ActiveModal, [&, text = text](QWidget* dialog) {
            auto* edit = gui::Control<QLineEdit>(dialog, IDC_SEARCH_TEXT);
            EXPECT_EQ(edit->text(), ""); // never remembered
            edit->setText(QString::fromUtf8(text));
            QTest::keyClick(edit, Qt::Key_Return);
            if (!dialog->isVisible())
                return;
            EXPECT_EQ(edit->text(), QString::fromUtf8(text));
            gui::Click(dialog, IDCANCEL_BUTTON);
        });
        QTest::keyClick(view, Qt::Key_H, Qt::ControlModifier);
        Reactivate();
        ASSERT_TRUE(script.ran()) << text;
        lastHit = found >= 0 ? found : lastHit;
        EXPECT_EQ(view->m_nFoundRow, lastHit) << text;
        const QModelIndexList selected = view->selectionModel()->selectedRows();
        const int selectedRow = selected.size() == 1 ? selected.front().row() : -1;
        EXPECT_EQ(selectedRow, view->GetItemCount() ? lastHit : -1) << text;
        EXPECT_EQ(frame.focusWidget(), view);
        ASSERT_EQ(boxes.count(), found < 0 ? 1u : 0u) << text;
        if (found < 0) {
            const MessageBoxRequest box = boxes.boxes().front();
            EXPECT_EQ(box.text + box.caption, "見つかりませんでした。確認");
            EXPECT_EQ(box.type, MB_OK);
            EXPECT_NE(box.owner, static_cast<void*>(&frame)); // the dialog's
        }
    }
}

TEST_F(RowCommandsTest, SearchScrollsAFarHitIntoView) {
    for (int i = 0; i < 300; ++i)
        view->InsertItem(view->GetItemCount(),
                         "10.1." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 1));
    ModalScript script(ModalScript::ActiveModal, [](QWidget* dialog) {
        gui::Control<QLineEdit>(dialog, IDC_SEARCH_TEXT)->setText("10.1.1.40");
        gui::Click(dialog, IDC_SEARCH);
    });
    ASSERT_TRUE(RightClick(RowPoint(0), {"検索(&F)"}));
    ASSERT_TRUE(script.ran());
    EXPECT_EQ(view->m_nFoundRow, 3 + 239);
    EXPECT_TRUE(view->viewport()->rect().contains(view->visualRect(view->currentIndex())));
}

} // namespace
