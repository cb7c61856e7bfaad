// The options dialog: the checks of OK and what it stores, the values it
// opens with, the typing limits, and the LANA test.

#include "platform/win32/Netbios.h"
#include "core/res/Resource.h"
#include "core/scan/NodeStatusQuery.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/ModalScript.h"
#include "gui/dialogs/COptionsDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using gui::Click;

const char* const kThreads = "スレッド数には 0 から15 の間の数字を指定してください。";
const char* const kTimeout = "PING タイムアウト値(ms)は1000以上の値を指定してください。";

QLineEdit* Edit(const QWidget* dialog, int id) {
    return gui::Control<QLineEdit>(dialog, id);
}

// The text, caption, icon and owner of the only box.
auto OnlyBox(const MessageBoxRecorder& boxes) {
    EXPECT_EQ(boxes.count(), 1u);
    const MessageBoxRequest b = boxes.boxes().at(0);
    return std::tuple(b.text, b.caption, b.icon(), b.owner);
}

class OptionsDlgTest : public ::testing::Test {
protected:
    gui::SettingsSandbox sandbox;
    MessageBoxRecorder boxes;
};

TEST_F(OptionsDlgTest, OkStoresOnlyValuesThatPassBothChecks) {
    struct Case {
        const char *threads, *timeout, *message; // message null: stored
        int storedThreads = 0, storedTimeout = 0;
    } cases[] = {
        {"0", "1000", kThreads},         {"15", "1000", nullptr, 15, 1000},
        {"16", "1000", kThreads},        {"", "1000", kThreads},
        {"-3", "1000", kThreads},        {"1", "999", kTimeout},
        {"1", "1000", nullptr, 1, 1000}, {"1", "1500ms", nullptr, 1, 1500},
        {"1", "15ms", kTimeout},         {"1", "", kTimeout},
        {"16", "999", kThreads}, // the thread count is checked first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.threads) + " / " + c.timeout);
        sandbox.settings.MaxThread = 4;
        sandbox.settings.PingTimeout = 7000;
        boxes.clear();
        COptionsDlg dialog(sandbox.settings);
        dialog.show();
        Edit(&dialog, IDC_MAX_THREAD)->setText(c.threads);
        Edit(&dialog, IDC_PING_TIMEOUT)->setText(c.timeout);
        // With the fast engine, which uses no thread count, it is still checked.
        Click(&dialog, IDC_FAST_SCAN);
        Click(&dialog, IDOK_BUTTON);
        EXPECT_EQ(dialog.isVisible(), c.message != nullptr);
        EXPECT_EQ(dialog.Edited().FastScan, c.message ? 0 : 1);
        EXPECT_EQ(dialog.Edited().MaxThread, c.message ? 4 : c.storedThreads);
        EXPECT_EQ(dialog.Edited().PingTimeout, c.message ? 7000 : c.storedTimeout);
        // The dialog edits a copy; the settings change only when Open commits it.
        EXPECT_EQ(sandbox.settings.MaxThread, 4);
        EXPECT_EQ(Edit(&dialog, IDC_PING_TIMEOUT)->text().toStdString(), c.timeout);
        if (c.message)
            EXPECT_EQ(OnlyBox(boxes), std::tuple(c.message, "注意", MB_ICONWARNING, &dialog));
        else
            EXPECT_EQ(boxes.count(), 0u);
    }
}

TEST_F(OptionsDlgTest, OpensWithTheCurrentValuesAndOnlyOkStoresTheChanges) {
    sandbox.settings.DontDeleteUnresolvedAddress = sandbox.settings.IgnoreNicVendorId = 1;
    sandbox.settings.IgnoreWorkstationService = sandbox.settings.SafeMode = 0;
    sandbox.settings.MaxThread = 40;      // loaded unchecked from the store
    sandbox.settings.PingTimeout = 12000; // longer than one can type
    sandbox.settings.LanaNumber = 3;
    sandbox.settings.FastScan = 1;
    sandbox.settings.RecordScans = 1;
    const int switches[] = {IDC_DONT_DELETE_UNRESOLVED, IDC_IGNORE_WORKSTATION_SERVICE,
                            IDC_IGNORE_NIC_VENDOR, IDC_SAFE_MODE, IDC_FAST_SCAN,
                            IDC_RECORD_SCANS};
    // Cancel first: the second opening still shows the values from before.
    QWidget owner;
    for (int button : {IDCANCEL_BUTTON, IDOK_BUTTON}) {
        ModalScript script(false, [&](QWidget* dialog) {
            std::vector<bool> checked;
            for (int id : switches)
                checked.push_back(gui::Control<QCheckBox>(dialog, id)->isChecked());
            EXPECT_EQ(checked, (std::vector<bool>{true, false, true, false, true, true}));
            EXPECT_EQ(Edit(dialog, IDC_LANA_NUMBER)->text(), "3");
            EXPECT_EQ(Edit(dialog, IDC_MAX_THREAD)->text(), "40");
            EXPECT_EQ(Edit(dialog, IDC_PING_TIMEOUT)->text(), "12000");
            for (int id : switches)
                Click(dialog, id);
            Edit(dialog, IDC_MAX_THREAD)->setText("8");
            Click(dialog, button);
        });
        COptionsDlg::Open(&owner, sandbox.settings);
        EXPECT_TRUE(script.ran());
    }
    const ScanSettingsRecord& s = sandbox.settings;
    EXPECT_EQ(
        (std::vector{s.DontDeleteUnresolvedAddress, s.IgnoreWorkstationService, s.IgnoreNicVendorId,
                     s.SafeMode, s.MaxThread, s.PingTimeout, s.LanaNumber, s.FastScan,
                     s.RecordScans}),
        (std::vector{0, 1, 0, 1, 8, 12000, 3, 0, 0}));
}

// A switch stored as something other than 0 or 1 shows clear and goes back
// as it was unless its box was changed; a box clicked twice is unchanged.
TEST_F(OptionsDlgTest, AStoredSwitchOtherThanZeroOrOneSurvivesOkUnlessChanged) {
    const struct {
        int clicks;
        int after;
    } cases[] = {{0, 2}, {2, 2}, {1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.clicks) + " clicks");
        for (int* field : {&sandbox.settings.DontDeleteUnresolvedAddress,
                           &sandbox.settings.IgnoreWorkstationService,
                           &sandbox.settings.IgnoreNicVendorId, &sandbox.settings.SafeMode,
                           &sandbox.settings.FastScan, &sandbox.settings.RecordScans})
            *field = 2;
        COptionsDlg dialog(sandbox.settings);
        dialog.show();
        for (int id : {IDC_DONT_DELETE_UNRESOLVED, IDC_IGNORE_WORKSTATION_SERVICE,
                       IDC_IGNORE_NIC_VENDOR, IDC_SAFE_MODE, IDC_FAST_SCAN, IDC_RECORD_SCANS}) {
            EXPECT_FALSE(gui::Control<QCheckBox>(&dialog, id)->isChecked()) << id;
            for (int i = 0; i < c.clicks; ++i)
                Click(&dialog, id);
        }
        Click(&dialog, IDOK_BUTTON);
        const ScanSettingsRecord& edited = dialog.Edited();
        EXPECT_EQ(std::vector<int>({edited.DontDeleteUnresolvedAddress,
                                    edited.IgnoreWorkstationService, edited.IgnoreNicVendorId,
                                    edited.SafeMode, edited.FastScan, edited.RecordScans}),
                  std::vector<int>(6, c.after));
    }
}

TEST_F(OptionsDlgTest, TheAddedBoxesSitBelowTheOthersInOrderAndComeLastBeforeTheButtons) {
    sandbox.settings.RecordScans = 0;
    COptionsDlg dialog(sandbox.settings);
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    struct Case {
        int id;
        const char* text;
        Qt::Key mnemonic;
    } cases[] = {
        {IDC_FAST_SCAN, "高速スキャン(&F)", Qt::Key_F},
        {IDC_RECORD_SCANS, "スキャン結果を記録する(&R)", Qt::Key_R},
    };
    // Each added box lies below every control before it in the template,
    // aligned with the switches at the top, and whole.
    std::vector<QWidget*> above;
    for (QWidget* other : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (other->objectName() != "1034" && other->objectName() != "1035")
            above.push_back(other);
    for (const Case& c : cases) {
        auto* box = gui::Control<QCheckBox>(&dialog, c.id);
        ASSERT_NE(box, nullptr) << c.id;
        EXPECT_EQ(box->text(), c.text);
        EXPECT_FALSE(box->isChecked()) << c.id;
        EXPECT_EQ(box->x(), gui::Control(&dialog, IDC_DONT_DELETE_UNRESOLVED)->x());
        for (QWidget* other : above)
            EXPECT_GT(box->y(), other->geometry().bottom())
                << c.id << " " << other->objectName().toStdString();
        EXPECT_TRUE(dialog.rect().contains(box->geometry())) << c.id;
        EXPECT_GE(box->width(), box->sizeHint().width()) << c.id;
        above.push_back(box);
    }

    // Tab walks the controls as before, with the new boxes after the safe mode.
    QStringList order;
    for (int i = 0; i < 13; ++i) {
        order << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(order.join(' ').toStdString(),
              "1010 1009 1012 1018 1027 1011 1015 1028 1034 1035 1 2 1010");

    // Each mnemonic reaches its box from anywhere (a clash would only move
    // the focus); a mnemonic clicks the way a button shows it, after a short press.
    for (const Case& c : cases) {
        auto* box = gui::Control<QCheckBox>(&dialog, c.id);
        Edit(&dialog, IDC_MAX_THREAD)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), c.mnemonic, Qt::AltModifier);
        EXPECT_TRUE(gui::WaitFor([box] { return box->isChecked(); })) << c.id;
        EXPECT_EQ(QApplication::focusWidget(), box);
    }
}

TEST_F(OptionsDlgTest, TypingStopsAtTheLimitAndTheNumberEditsTakeOnlyDigits) {
    sandbox.settings.MaxThread = 40;
    COptionsDlg dialog(sandbox.settings);
    dialog.show();
    // A stored 40 must be corrected: deleting a digit of it is allowed.
    QLineEdit* threads = Edit(&dialog, IDC_MAX_THREAD);
    threads->end(false);
    QTest::keyClick(threads, Qt::Key_Backspace);
    EXPECT_EQ(threads->text(), "4");
    for (auto [id, typed, shown] : {std::tuple{IDC_PING_TIMEOUT, "1500ms", "1500"},
                                    {IDC_PING_TIMEOUT, "9ms", "9ms"},
                                    {IDC_MAX_THREAD, "1a5", "15"},
                                    {IDC_MAX_THREAD, "123", "12"},
                                    {IDC_LANA_NUMBER, "-7x9", "79"}}) {
        Edit(&dialog, id)->clear();
        QTest::keyClicks(Edit(&dialog, id), typed);
        EXPECT_EQ(Edit(&dialog, id)->text().toStdString(), shown) << typed;
    }
}

std::vector<int> g_resets;
UCHAR FakeReset(NCB* ncb, const StopSignal*, NodeStatusAnswer*) {
    g_resets.push_back(ncb->ncb_lana_num);
    return ncb->ncb_retcode = ncb->ncb_lana_num == 0 ? NRC_GOODRET : NRC_BRIDGE;
}

TEST_F(OptionsDlgTest, TheLanaTestTellsTheResultAndStoresNothing) {
    COptionsDlg dialog(sandbox.settings, nullptr, FakeReset);
    dialog.show();
    for (auto [typed, lana, text, icon] :
         {std::tuple{"7", 7, "この番号は使用できません。", MB_ICONWARNING},
          {"", 0, "テストは成功しました。", 0u}}) {
        boxes.clear();
        g_resets.clear();
        Edit(&dialog, IDC_LANA_NUMBER)->setText(typed);
        Click(&dialog, IDC_TEST_LANA);
        EXPECT_EQ(g_resets, std::vector<int>{lana});
        EXPECT_EQ(OnlyBox(boxes), std::tuple(text, "テスト結果", icon, &dialog));
    }
    Edit(&dialog, IDC_LANA_NUMBER)->setText("7");
    Click(&dialog, IDOK_BUTTON);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Edited().LanaNumber, 0);
}

} // namespace
