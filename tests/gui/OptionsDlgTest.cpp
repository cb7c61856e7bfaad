// The options dialog: the checks of OK and what it stores, the typing limits,
// the values it opens with, and the LANA test.

#include "platform/Netbios.h"
#include "res/Resource.h"
#include "scan/NodeStatusQuery.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MessageBoxRecorder.h"
#include "view/COptionsDlg.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using gui::Click;
using gui::Control;

const char* const kThreadMessage = "スレッド数には 0 から15 の間の数字を指定してください。";
const char* const kTimeoutMessage = "PING タイムアウト値(ms)は1000以上の値を指定してください。";

QLineEdit* Edit(const QWidget* dialog, int id) {
    return Control<QLineEdit>(dialog, id);
}

class OptionsDlgTest : public ::testing::Test {
protected:
    gui::SettingsSandbox sandbox;
    MessageBoxRecorder boxes;
};

TEST_F(OptionsDlgTest, OkStoresOnlyValuesThatPassBothChecks) {
    struct Case {
        const char* threads;
        const char* timeout;
        const char* message; // null: stored
        int storedThreads = 0, storedTimeout = 0;
    } cases[] = {
        {"0", "1000", kThreadMessage},     {"15", "1000", nullptr, 15, 1000},
        {"16", "1000", kThreadMessage},    {"", "1000", kThreadMessage},
        {"-3", "1000", kThreadMessage}, // a stored value the edit shows as it is
        {"1", "999", kTimeoutMessage},     {"1", "1000", nullptr, 1, 1000},
        {"1", "1500ms", nullptr, 1, 1500}, {"1", "15ms", kTimeoutMessage},
        {"1", "", kTimeoutMessage},        {"1", "ms", kTimeoutMessage},
        {"16", "999", kThreadMessage}, // the thread count is checked first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.threads) + " / " + c.timeout);
        ScanSettings.MaxThread = 4;
        ScanSettings.PingTimeout = 7000;
        boxes.clear();
        COptionsDlg dialog;
        dialog.show();
        Edit(&dialog, IDC_MAX_THREAD)->setText(c.threads);
        Edit(&dialog, IDC_PING_TIMEOUT)->setText(c.timeout);
        Click(&dialog, IDOK_BUTTON);
        if (c.message) {
            ASSERT_EQ(boxes.count(), 1u);
            const MessageBoxRequest box = boxes.boxes()[0];
            EXPECT_EQ(box.text, c.message);
            EXPECT_EQ(box.caption, "注意");
            EXPECT_EQ(box.icon(), MB_ICONWARNING);
            EXPECT_EQ(box.owner, static_cast<void*>(&dialog));
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_EQ(Edit(&dialog, IDC_PING_TIMEOUT)->text().toStdString(), c.timeout);
            EXPECT_EQ(ScanSettings.MaxThread, 4);
            EXPECT_EQ(ScanSettings.PingTimeout, 7000);
        } else {
            EXPECT_EQ(boxes.count(), 0u);
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(ScanSettings.MaxThread, c.storedThreads);
            EXPECT_EQ(ScanSettings.PingTimeout, c.storedTimeout);
        }
    }
}

TEST_F(OptionsDlgTest, OpensWithTheCurrentValuesAndOnlyOkStoresTheSwitches) {
    ScanSettings.DontDeleteUnresolvedAddress = 1;
    ScanSettings.IgnoreWorkstationService = 0;
    ScanSettings.IgnoreNicVendorId = 1;
    ScanSettings.SafeMode = 0;
    ScanSettings.LanaNumber = 3;
    ScanSettings.MaxThread = 40;      // loaded unchecked from the store
    ScanSettings.PingTimeout = 12000; // longer than the edit lets one type
    const int switches[] = {IDC_DONT_DELETE_UNRESOLVED, IDC_IGNORE_WORKSTATION_SERVICE,
                            IDC_IGNORE_NIC_VENDOR, IDC_SAFE_MODE};

    // Cancel first: the second opening still shows the values from before.
    for (bool confirm : {false, true}) {
        SCOPED_TRACE(confirm);
        COptionsDlg dialog;
        dialog.show();
        std::vector<bool> shown;
        for (int id : switches)
            shown.push_back(Control<QCheckBox>(&dialog, id)->isChecked());
        EXPECT_EQ(shown, (std::vector<bool>{true, false, true, false}));
        EXPECT_EQ(Edit(&dialog, IDC_LANA_NUMBER)->text(), "3");
        EXPECT_EQ(Edit(&dialog, IDC_MAX_THREAD)->text(), "40");
        EXPECT_EQ(Edit(&dialog, IDC_PING_TIMEOUT)->text(), "12000");

        for (int id : switches)
            Click(&dialog, id);
        Edit(&dialog, IDC_MAX_THREAD)->setText("8");
        Click(&dialog, confirm ? IDOK_BUTTON : IDCANCEL_BUTTON);
        EXPECT_FALSE(dialog.isVisible());
        const std::vector<int> stored{ScanSettings.DontDeleteUnresolvedAddress,
                                      ScanSettings.IgnoreWorkstationService,
                                      ScanSettings.IgnoreNicVendorId,
                                      ScanSettings.SafeMode,
                                      ScanSettings.MaxThread,
                                      ScanSettings.PingTimeout};
        const std::vector<int> expected = confirm ? std::vector<int>{0, 1, 0, 1, 8, 12000}
                                                  : std::vector<int>{1, 0, 1, 0, 40, 12000};
        EXPECT_EQ(stored, expected);
    }
    EXPECT_EQ(ScanSettings.LanaNumber, 3);
}

TEST_F(OptionsDlgTest, TypingStopsAtTheLimitAndTheNumberEditsTakeOnlyDigits) {
    struct Case {
        int id;
        const char* typed;
        const char* shown;
    } cases[] = {
        {IDC_PING_TIMEOUT, "1500ms", "1500"}, {IDC_PING_TIMEOUT, "9ms", "9ms"},
        {IDC_MAX_THREAD, "1a5", "15"},        {IDC_MAX_THREAD, "123", "12"},
        {IDC_LANA_NUMBER, "-7x9", "79"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        COptionsDlg dialog;
        dialog.show();
        QLineEdit* edit = Edit(&dialog, c.id);
        edit->clear();
        QTest::keyClicks(edit, c.typed);
        EXPECT_EQ(edit->text().toStdString(), c.shown);
    }

    // A stored 40 must be corrected: deleting a digit of it is always allowed.
    ScanSettings.MaxThread = 40;
    COptionsDlg dialog;
    dialog.show();
    QLineEdit* threads = Edit(&dialog, IDC_MAX_THREAD);
    Click(&dialog, IDOK_BUTTON);
    EXPECT_EQ(boxes.count(), 1u);
    threads->end(false);
    QTest::keyClick(threads, Qt::Key_Backspace);
    EXPECT_EQ(threads->text(), "4");
    Click(&dialog, IDOK_BUTTON);
    EXPECT_EQ(ScanSettings.MaxThread, 4);
}

std::vector<int> g_resets;
UCHAR FakeReset(NCB* ncb) {
    g_resets.push_back(ncb->ncb_lana_num);
    ncb->ncb_retcode = ncb->ncb_lana_num == 0 ? NRC_GOODRET : NRC_BRIDGE;
    return ncb->ncb_retcode;
}

TEST_F(OptionsDlgTest, TheLanaTestTellsTheResultAndStoresNothing) {
    const NetbiosFunction previous = SetNetbiosFunction(FakeReset);
    g_resets.clear();
    ScanSettings.LanaNumber = 0;
    COptionsDlg dialog;
    dialog.show();
    struct Case {
        const char* typed;
        int lana;
        const char* text;
        unsigned icon;
    } cases[] = {
        {"7", 7, "この番号は使用できません。", MB_ICONWARNING},
        {"", 0, "テストは成功しました。", 0},
        {"0", 0, "テストは成功しました。", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        boxes.clear();
        g_resets.clear();
        Edit(&dialog, IDC_LANA_NUMBER)->setText(c.typed);
        Click(&dialog, IDC_TEST_LANA);
        EXPECT_EQ(g_resets, std::vector<int>{c.lana});
        ASSERT_EQ(boxes.count(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, c.text);
        EXPECT_EQ(boxes.boxes()[0].caption, "テスト結果");
        EXPECT_EQ(boxes.boxes()[0].icon(), c.icon);
        EXPECT_EQ(boxes.boxes()[0].owner, static_cast<void*>(&dialog));
    }
    Edit(&dialog, IDC_LANA_NUMBER)->setText("7");
    Click(&dialog, IDOK_BUTTON);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ScanSettings.LanaNumber, 0);
    SetNetbiosFunction(previous);
}

} // namespace
