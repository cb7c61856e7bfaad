// The list's row commands in the main window: the context menu, copying a
// cell, deleting the rows of silent addresses, and the search dialog.

#include "app/ScanSettings.h"
#include "res/Resource.h"
#include "shell/CMainFrame.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/ModalScript.h"
#include "view/CSearchDlg.h"
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

QStringList EntryTexts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

// Chooses an entry of the open popup menu: highlights each entry of the
// path and presses Return, which opens a submenu on the way.
void Choose(QWidget* popup, const QStringList& path) {
    for (const QString& text : path) {
        auto* menu = qobject_cast<QMenu*>(popup);
        ASSERT_TRUE(menu);
        const int index = EntryTexts(menu).indexOf(text);
        ASSERT_GE(index, 0) << text.toStdString();
        menu->setActiveAction(menu->actions().at(index));
        QTest::keyClick(menu, Qt::Key_Return);
        popup = QApplication::activePopupWidget();
    }
}

class RowCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(frame.OnCreate());
        frame.show();
        frame.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
        view = frame.View();
        QApplication::clipboard()->setText(QStringLiteral("before"));
    }

    // A right-click at a point of the list: the press selects, the request
    // follows, as the window system sends them.
    void RightClick(QPoint point) {
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, point);
        QContextMenuEvent request(QContextMenuEvent::Mouse, point,
                                  view->viewport()->mapToGlobal(point));
        QApplication::sendEvent(view->viewport(), &request);
    }
    QPoint RowPoint(int row) { return view->visualRect(view->model()->index(row, 2)).center(); }
    // Right-clicks a row and chooses the menu entry at `path`; true when a
    // menu opened.
    bool RightClickAndChoose(QPoint point, const QStringList& path) {
        ModalScript script(ModalScript::ActivePopup, [&](QWidget* popup) {
            menuEntries = EntryTexts(qobject_cast<QMenu*>(popup));
            Choose(popup, path);
        });
        RightClick(point);
        Reactivate();
        return script.ran();
    }
    // The offscreen platform leaves the main window inactive after a popup or
    // a modal dialog has closed; a desktop gives it back its activation.
    void Reactivate() {
        frame.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    }

    gui::SettingsSandbox sandbox;
    CMainFrame frame;
    CTarnelView* view = nullptr;
    QStringList menuEntries;
};

const std::vector<std::vector<std::string>> kRows = {
    {"192.168.1.10", "○", "PC01", "WORKGROUP", "001122334455", "不明", "PC01/USER1"},
    {"192.168.1.1", "×"},
    {"192.168.1.12", "○", "FILESRV", "OFFICE", "00A0C9123456", "Intel", ""},
};

TEST_F(RowCommandsTest, TheMenuOnARowCopiesThatRowsCellThroughTheFrame) {
    gui::AddRows(*view, kRows);
    QSignalSpy issued(&frame, &CMainFrame::commandIssued);
    ASSERT_TRUE(RightClickAndChoose(RowPoint(2), {"コピー", "IPアドレス(&I)"}));
    EXPECT_EQ(menuEntries, (QStringList{"コピー", "反応しないアドレスを削除(&D)", "検索(&F)",
                                        "診断(&A)", "Net コマンド発行(&N)"}));
    EXPECT_EQ(view->m_nContextRow, 2);
    ASSERT_EQ(issued.count(), 1);
    EXPECT_EQ(issued.at(0).at(0).toInt(), ID_COPY_ADDRESS);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("192.168.1.12"));

    // Each copy command takes its column of the right-clicked row, whatever
    // row is selected now; an empty cell gives an empty text.
    view->selectRow(0);
    const struct {
        int command;
        const char* text;
    } cases[] = {
        {ID_COPY_ADDRESS, "192.168.1.12"}, {ID_COPY_COMPUTER_NAME, "FILESRV"},
        {ID_COPY_DOMAIN_NAME, "OFFICE"},   {ID_COPY_MAC_ADDRESS, "00A0C9123456"},
        {ID_COPY_VENDOR, "Intel"},         {ID_COPY_MESSENGER, ""},
    };
    for (const auto& c : cases) {
        QApplication::clipboard()->setText(QStringLiteral("before"));
        frame.OnCommand(c.command);
        EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8(c.text)) << c.command;
    }
    // And the shortcut after a change of selection by key.
    QTest::keyClick(view, Qt::Key_Up);
    QTest::keyClick(view, Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("192.168.1.12"));
}

TEST_F(RowCommandsTest, NoRowUnderThePointerOrAKeyboardRequestOpensNoMenuAndCopiesNothing) {
    gui::AddRows(*view, kRows);
    const QPoint belowTheRows(20, view->visualRect(view->model()->index(2, 0)).bottom() + 30);
    struct Request {
        const char* what;
        std::function<void()> make;
    } requests[] = {
        {"below the rows", [&] { RightClick(belowTheRows); }},
        {"menu key", [&] { QTest::keyClick(view, Qt::Key_Menu); }},
        {"Shift+F10", [&] { QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier); }},
        {"keyboard request",
         [&] {
             QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                       view->viewport()->mapToGlobal(QPoint(5, 5)));
             QApplication::sendEvent(view->viewport(), &request);
         }},
    };
    for (const Request& r : requests) {
        ASSERT_TRUE(RightClickAndChoose(RowPoint(0), {"コピー", "IPアドレス(&I)"}));
        ModalScript script(ModalScript::ActivePopup, [](QWidget* popup) { popup->close(); });
        view->setFocus();
        r.make();
        EXPECT_FALSE(script.ran()) << r.what;
        EXPECT_EQ(view->m_nContextRow, -1) << r.what;
        QApplication::clipboard()->setText(QStringLiteral("before"));
        frame.OnCommand(ID_COPY_ADDRESS);
        EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before")) << r.what;
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
        ASSERT_TRUE(RightClickAndChoose(RowPoint(1), {"反応しないアドレスを削除(&D)"}));
        ASSERT_EQ(view->GetItemCount(), 2) << dontDelete;
        EXPECT_EQ(view->ReadCell(0, 0, 256), "10.0.0.2");
        EXPECT_EQ(view->ReadCell(1, 0, 256), "10.0.0.5");
        QTest::keyClick(view, Qt::Key_B, Qt::ControlModifier); // nothing left to delete
        EXPECT_EQ(view->GetItemCount(), 2);
    }
}

// Search: types `text` into the dialog that the command opened and presses
// Enter; a hit closes it, else it stays open and the test cancels it.
class SearchTest : public RowCommandsTest {
protected:
    struct Outcome {
        bool stayedOpen = false;
        QString textAfter;
    };
    Outcome Search(const QString& text, std::function<void()> open) {
        Outcome outcome;
        ModalScript script(ModalScript::ActiveModal, [&](QWidget* dialog) {
            auto* edit = gui::Control<QLineEdit>(dialog, IDC_SEARCH_TEXT);
            ASSERT_TRUE(edit);
            EXPECT_EQ(edit->text(), QString()); // never remembered
            edit->setText(text);
            QTest::keyClick(edit, Qt::Key_Return);
            outcome.stayedOpen = dialog->isVisible();
            outcome.textAfter = edit->text();
            if (outcome.stayedOpen)
                gui::Click(dialog, IDCANCEL_BUTTON);
        });
        open();
        Reactivate();
        EXPECT_TRUE(script.ran());
        return outcome;
    }
    int SelectedRow() {
        const QModelIndexList rows = view->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.front().row() : -1;
    }
    MessageBoxRecorder boxes;
};

TEST_F(SearchTest, FindsTheFirstRowHoldingTheTextAndSelectsIt) {
    gui::AddRows(*view, kRows);
    const struct {
        const char* text;
        int found; // -1: not found
    } cases[] = {
        {"pc", 0}, {"×", 1}, {"○", 0}, {"168.1.1", 0}, {"srv", 2}, {"", 0}, {"ｐｃ", -1},
    };
    for (const auto& c : cases) {
        boxes.clear();
        view->m_nFoundRow = -1;
        view->clearSelection();
        const Outcome outcome = Search(QString::fromUtf8(c.text), [&] {
            QTest::keyClick(view, Qt::Key_H, Qt::ControlModifier);
        });
        EXPECT_EQ(outcome.stayedOpen, c.found < 0) << c.text;
        EXPECT_EQ(view->m_nFoundRow, c.found) << c.text;
        EXPECT_EQ(SelectedRow(), c.found) << c.text;
        if (c.found >= 0) {
            EXPECT_EQ(view->currentIndex().row(), c.found);
            EXPECT_EQ(frame.focusWidget(), view);
            EXPECT_EQ(boxes.count(), 0u) << c.text;
            continue;
        }
        EXPECT_EQ(outcome.textAfter, QString::fromUtf8(c.text));
        ASSERT_EQ(boxes.count(), 1u) << c.text;
        const MessageBoxRequest box = boxes.boxes().front();
        EXPECT_EQ(box.text, "見つかりませんでした。");
        EXPECT_EQ(box.caption, "確認");
        EXPECT_EQ(box.type, MB_OK);
        EXPECT_NE(box.owner, static_cast<void*>(&frame)); // the dialog's own box
    }
}

TEST_F(SearchTest, CancelSelectsThePreviousHitAgainAndAFarRowIsScrolledIntoView) {
    // Before any hit a cancelled search selects nothing.
    Search(QString(), [&] { frame.OnCommand(ID_SEARCH); });
    EXPECT_EQ(boxes.count(), 1u); // the list is empty
    EXPECT_EQ(view->m_nFoundRow, -1);
    EXPECT_EQ(SelectedRow(), -1);

    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < 300; ++i)
        rows.push_back({"10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1)});
    gui::AddRows(*view, rows);
    Search(QStringLiteral("10.0.1.40"), [&] { frame.OnCommand(ID_SEARCH); });
    EXPECT_EQ(view->m_nFoundRow, 289);
    view->selectRow(3);
    view->scrollToTop();
    ModalScript cancel(ModalScript::ActiveModal,
                       [](QWidget* dialog) { gui::Click(dialog, IDCANCEL_BUTTON); });
    ASSERT_TRUE(RightClickAndChoose(RowPoint(0), {"検索(&F)"}));
    ASSERT_TRUE(cancel.ran());
    EXPECT_EQ(SelectedRow(), 289);
    const QRect found = view->visualRect(view->model()->index(289, 0));
    EXPECT_TRUE(view->viewport()->rect().contains(found));
}

} // namespace
