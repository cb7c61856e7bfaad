// The IP address control driven by keys and the clipboard as a user drives it.

#include "gui/dialogs/CIpAddressCtrl.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The control between two buttons, in tab order as a dialog lays them out.
class IpAddressCtrlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ctrl->setGeometry(70, 0, 156, 26);
        after->setGeometry(230, 0, 60, 26);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        ctrl->setFocus();
    }

    QString Texts() const {
        QStringList texts;
        for (int i = 0; i < CIpAddressCtrl::kFields; ++i)
            texts << ctrl->Field(i)->text();
        return texts.join(u'.');
    }

    // Keys to the focus widget: '\b' Backspace, '<' '>' Left and Right, '^'
    // Ctrl+V, '@n' a click on field n and End, anything else typed as it is.
    void Type(const std::string& keys) {
        for (size_t i = 0; i < keys.size(); ++i) {
            QWidget* target = QApplication::focusWidget();
            ASSERT_NE(target, nullptr);
            const char k = keys[i];
            if (k == '@') {
                QTest::mouseClick(ctrl->Field(keys[++i] - '0'), Qt::LeftButton);
                QTest::keyClick(ctrl->Field(keys[i] - '0'), Qt::Key_End);
            } else if (k == '^') {
                QTest::keyClick(target, Qt::Key_V, Qt::ControlModifier);
            } else if (k == '\b' || k == '<' || k == '>') {
                QTest::keyClick(target, k == '\b'  ? Qt::Key_Backspace
                                        : k == '<' ? Qt::Key_Left
                                                   : Qt::Key_Right);
            } else {
                QTest::keyClick(target, k);
            }
        }
    }

    QWidget window;
    QPushButton* before = new QPushButton(QStringLiteral("before"), &window);
    CIpAddressCtrl* ctrl = new CIpAddressCtrl(&window);
    QPushButton* after = new QPushButton(QStringLiteral("after"), &window);
};

TEST_F(IpAddressCtrlTest, TypedKeysGiveTheAddress) {
    struct Case {
        const char *keys, *clipboard, *texts;
        std::uint32_t address;
    } cases[] = {
        {"192.168.1.10", "", "192.168.1.10", 0xC0A8010A},
        {"1..2", "", "1.2..", 0x01020000},
        {"12a 3-4", "", "123.4..", 0x7B040000},
        {"300", "", "255...", 0xFF000000},          // clamped when the third digit moves on
        {"1.2.3.300", "", "1.2.3.300", 0x010203FF}, // not yet left: still reads as 255
        {"1.2.3.300@0", "", "1.2.3.255", 0x010203FF},
        {"1.2\b\b\b3", "", "3...", 0x03000000},
        {"10.20.\b7", "", "10.207..", 0x0ACF0000},
        {"1.2<<9", "", "19.2..", 0x13020000},
        {"12<>>5", "", "12.5..", 0x0C050000},
        {"@27", "", "..7.", 0x00000700},
        {"9^", " 192.168.0.1\n", "192.168.0.1", 0xC0A80001},
        {"^", "12", "12...", 0x0C000000},
        {"7^", "1.2.3.256", "7...", 0x07000000},
        {"^", "1.2.3", "...", 0},
        // Moving on selects the next field, so typing replaces it.
        {"^@0\b\b9.5.6", "10.0.0.1", "9.5.6.1", 0x09050601},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        ctrl->ClearAddress();
        QApplication::clipboard()->setText(QString::fromUtf8(c.clipboard));
        ctrl->setFocus();
        Type(c.keys);
        EXPECT_EQ(Texts(), QString::fromUtf8(c.texts));
        EXPECT_EQ(ctrl->GetAddress(), c.address);
    }
}

TEST_F(IpAddressCtrlTest, TheFieldMenuPastesADottedAddressToo) {
    QApplication::clipboard()->setText(QStringLiteral("10.1.2.3"));
    QLineEdit* field = ctrl->Field(2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, {2, 2}, field->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(field, &event);
    QWidget* menu = QApplication::activePopupWidget();
    ASSERT_NE(menu, nullptr);
    const QString key = QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
    QAction* paste = nullptr;
    for (QAction* action : menu->actions())
        if (action->text().endsWith(key))
            paste = action;
    ASSERT_NE(paste, nullptr);
    paste->trigger();
    menu->close();
    EXPECT_EQ(ctrl->GetAddress(), 0x0A010203u);
}

TEST_F(IpAddressCtrlTest, SetClearChangedAndDisabled) {
    QSignalSpy spy(ctrl, &CIpAddressCtrl::changed);
    EXPECT_TRUE(ctrl->IsBlank());
    for (std::uint32_t address : {0u, 0x00FF00FFu, 0xFFFFFFFFu, 0x0102030Au, 0x0102030Au}) {
        ctrl->SetAddress(address);
        EXPECT_EQ(ctrl->GetAddress(), address);
        EXPECT_FALSE(ctrl->IsBlank()) << address; // 0.0.0.0 is four zeros, not blank
    }
    EXPECT_EQ(Texts(), QStringLiteral("1.2.3.10"));
    EXPECT_EQ(spy.count(), 4) << "setting the same address again changes nothing";
    ctrl->ClearAddress();
    EXPECT_TRUE(ctrl->IsBlank());
    EXPECT_EQ(ctrl->GetAddress(), 0u);
    EXPECT_EQ(spy.count(), 5);
    Type("x.");
    EXPECT_EQ(spy.count(), 5) << "refused keys change nothing";
    Type("300"); // "3", "30", "300" and then the clamp to "255" when it moves on
    EXPECT_EQ(spy.count(), 9);

    // Disabled fields take no keys and no paste.
    ctrl->setEnabled(false);
    for (int i = 0; i < CIpAddressCtrl::kFields; ++i)
        EXPECT_FALSE(ctrl->Field(i)->isEnabled()) << i;
    QApplication::clipboard()->setText(QStringLiteral("5.6.7.8"));
    QTest::keyClicks(ctrl->Field(0), QStringLiteral("9\b"));
    QTest::keyClick(ctrl->Field(0), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(ctrl->GetAddress(), 0xFF000000u);
    EXPECT_EQ(spy.count(), 9);
    ctrl->setEnabled(true);
    ctrl->setFocus();
    QTest::keyClick(ctrl->Field(0), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(ctrl->GetAddress(), 0x05060708u);
}

TEST_F(IpAddressCtrlTest, TheControlIsOneTabStopEnteredAtTheFirstField) {
    const auto press = [](Qt::Key key) {
        QTest::keyClick(QApplication::focusWidget(), key,
                        key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
        return QApplication::focusWidget();
    };
    EXPECT_EQ(QApplication::focusWidget(), ctrl->Field(0));
    for (int field = 0; field < CIpAddressCtrl::kFields; ++field) {
        SCOPED_TRACE(field);
        QTest::mouseClick(ctrl->Field(field), Qt::LeftButton);
        EXPECT_EQ(press(Qt::Key_Tab), after);
        EXPECT_EQ(press(Qt::Key_Backtab), ctrl->Field(0));
        QTest::mouseClick(ctrl->Field(field), Qt::LeftButton);
        EXPECT_EQ(press(Qt::Key_Backtab), before);
        EXPECT_EQ(press(Qt::Key_Tab), ctrl->Field(0));
    }
}

} // namespace
