// The IP address control driven by keys and the clipboard as a user drives it.

#include "ranges/CIpAddressCtrl.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A window with a button on either side of the control, in tab order, as a
// dialog lays them out.
class IpAddressCtrlTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<QWidget>();
        before = new QPushButton(QStringLiteral("before"), window.get());
        ctrl = new CIpAddressCtrl(window.get());
        after = new QPushButton(QStringLiteral("after"), window.get());
        before->setGeometry(0, 0, 60, 26);
        ctrl->setGeometry(70, 0, 156, 26);
        after->setGeometry(230, 0, 60, 26);
        QWidget::setTabOrder(before, ctrl);
        QWidget::setTabOrder(ctrl, after);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        ctrl->setFocus();
    }

    // The four field texts joined by dots, blank fields as nothing.
    QString Texts() const {
        QStringList texts;
        for (int i = 0; i < CIpAddressCtrl::kFields; ++i)
            texts << ctrl->Field(i)->text();
        return texts.join(u'.');
    }

    // Keys to whatever has the focus: '\b' Backspace, '<' and '>' Left and
    // Right, '^' Ctrl+V, '@n' a click on field n followed by End, anything
    // else typed as it is.
    void Type(const std::string& keys) {
        for (size_t i = 0; i < keys.size(); ++i) {
            QWidget* target = QApplication::focusWidget();
            ASSERT_NE(target, nullptr);
            switch (keys[i]) {
            case '\b':
                QTest::keyClick(target, Qt::Key_Backspace);
                break;
            case '<':
                QTest::keyClick(target, Qt::Key_Left);
                break;
            case '>':
                QTest::keyClick(target, Qt::Key_Right);
                break;
            case '^':
                QTest::keyClick(target, Qt::Key_V, Qt::ControlModifier);
                break;
            case '@': {
                QLineEdit* field = ctrl->Field(keys[++i] - '0');
                QTest::mouseClick(field, Qt::LeftButton);
                QTest::keyClick(field, Qt::Key_End);
                break;
            }
            default:
                QTest::keyClick(target, keys[i]);
                break;
            }
        }
    }

    std::unique_ptr<QWidget> window;
    QPushButton* before = nullptr;
    CIpAddressCtrl* ctrl = nullptr;
    QPushButton* after = nullptr;
};

TEST_F(IpAddressCtrlTest, TypedKeysGiveTheAddress) {
    struct Case {
        const char* keys;
        const char* clipboard;
        const char* texts;
        std::uint32_t address;
    } cases[] = {
        {"192.168.1.10", "", "192.168.1.10", 0xC0A8010A},
        {"255.255.255.255", "", "255.255.255.255", 0xFFFFFFFF},
        {"1.2.3", "", "1.2.3.", 0x01020300},
        {"1..2", "", "1.2..", 0x01020000},
        {".", "", "...", 0},
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
        {"^", "abc", "...", 0},
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
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2),
                            field->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(field, &event);
    QWidget* menu = QApplication::activePopupWidget();
    ASSERT_NE(menu, nullptr);
    const QString pasteKey = QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
    QAction* paste = nullptr;
    for (QAction* action : menu->actions())
        if (action->text().endsWith(pasteKey))
            paste = action;
    ASSERT_NE(paste, nullptr);
    paste->trigger();
    menu->close();
    EXPECT_EQ(ctrl->GetAddress(), 0x0A010203u);
}

TEST_F(IpAddressCtrlTest, AdvancingSelectsTheNextFieldForRetyping) {
    ctrl->SetAddress(0x0A000001); // 10.0.0.1
    ctrl->setFocus();
    QTest::keyClick(ctrl->Field(0), Qt::Key_End);
    Type("\b\b9.5.6");
    EXPECT_EQ(Texts(), QStringLiteral("9.5.6.1"));
}

TEST_F(IpAddressCtrlTest, SetAndClearRoundTripAndBlankReadsZero) {
    EXPECT_TRUE(ctrl->IsBlank());
    EXPECT_EQ(ctrl->GetAddress(), 0u);
    for (std::uint32_t address : {0u, 1u, 0x7F000001u, 0xC0A8010Au, 0x00FF00FFu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(address);
        ctrl->SetAddress(address);
        EXPECT_EQ(ctrl->GetAddress(), address);
        EXPECT_FALSE(ctrl->IsBlank()); // 0.0.0.0 is four zeros, not blank
    }
    ctrl->SetAddress(0x0102030A);
    EXPECT_EQ(Texts(), QStringLiteral("1.2.3.10"));
    ctrl->ClearAddress();
    EXPECT_TRUE(ctrl->IsBlank());
    EXPECT_EQ(ctrl->GetAddress(), 0u);
}

TEST_F(IpAddressCtrlTest, ChangedComesOncePerChangeOfTheFields) {
    QSignalSpy spy(ctrl, &CIpAddressCtrl::changed);
    ctrl->SetAddress(0x01020304);
    EXPECT_EQ(spy.count(), 1);
    ctrl->SetAddress(0x01020304);
    EXPECT_EQ(spy.count(), 1) << "nothing changed";
    ctrl->ClearAddress();
    EXPECT_EQ(spy.count(), 2);
    Type("x.");
    EXPECT_EQ(spy.count(), 2) << "refused keys change nothing";
    Type("3");
    EXPECT_EQ(spy.count(), 3);
    Type("00"); // "300" and then the clamp to "255" when it moves on
    EXPECT_EQ(Texts(), QStringLiteral("255..."));
    EXPECT_EQ(spy.count(), 6);
}

TEST_F(IpAddressCtrlTest, DisabledFieldsAreGreyAndTakeNoInput) {
    ctrl->SetAddress(0x01020304);
    ctrl->setEnabled(false);
    for (int i = 0; i < CIpAddressCtrl::kFields; ++i)
        EXPECT_FALSE(ctrl->Field(i)->isEnabled()) << i;
    QApplication::clipboard()->setText(QStringLiteral("5.6.7.8"));
    QTest::keyClicks(ctrl->Field(0), QStringLiteral("9\b"));
    QTest::keyClick(ctrl->Field(0), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(ctrl->GetAddress(), 0x01020304u);

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
    before->setFocus();
    EXPECT_EQ(press(Qt::Key_Tab), ctrl->Field(0));
    EXPECT_EQ(press(Qt::Key_Tab), after);
    EXPECT_EQ(press(Qt::Key_Backtab), ctrl->Field(0));
    EXPECT_EQ(press(Qt::Key_Backtab), before);
    for (int field = 1; field < CIpAddressCtrl::kFields; ++field) {
        SCOPED_TRACE(field);
        QTest::mouseClick(ctrl->Field(field), Qt::LeftButton);
        ASSERT_EQ(QApplication::focusWidget(), ctrl->Field(field));
        EXPECT_EQ(press(Qt::Key_Tab), after);
        QTest::mouseClick(ctrl->Field(field), Qt::LeftButton);
        EXPECT_EQ(press(Qt::Key_Backtab), before);
    }
}

} // namespace
