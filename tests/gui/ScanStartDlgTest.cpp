// The scan start dialog driven through its controls: Add's checks, Delete,
// Start, Stop, Close and Escape, and whole scans with scripted probes.

#include "core/ranges/AddressRange.h"
#include "gui/dialogs/CIpAddressCtrl.h"
#include "gui/dialogs/CScanStartDlg.h"
#include "gui/dialogs/ListControlRangeRows.h"
#include "core/res/Resource.h"
#include "core/scan/CThreadManager.h"
#include "core/scan/HostRecord.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MachineProbes.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/ModalScript.h"
#include "tests/support/ScriptedNodeStatusProbes.h"
#include "gui/view/CTarnelView.h"
#include "gui/model/ResultModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <tuple>

#include <gtest/gtest.h>

namespace {

using gui::Click;
using gui::Control;

class ScanStartDlgTest : public ::testing::Test {
protected:
    void SetUp() override { window.resize(400, 300); }
    void TearDown() override {
        probes.Hold(false);
        if (dialog)
            gui::WaitFor([this] { return !dialog->ScanRunning(); });
    }

    CScanStartDlg& Open() {
        dialog = std::make_unique<CScanStartDlg>(view.Model(), sandbox.settings, &window, probes);
        dialog->show();
        return *dialog;
    }
    void SetAddresses(const char* start, const char* end) {
        Control<CIpAddressCtrl>(dialog.get(), IDC_START_ADDRESS)
            ->SetAddress(AddressFromText(start));
        Control<CIpAddressCtrl>(dialog.get(), IDC_END_ADDRESS)->SetAddress(AddressFromText(end));
    }
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        for (int i = 0; i < dialog->Rows().GetItemCount(); ++i)
            rows.push_back(dialog->Rows().GetItemText(i, 0) + "-" +
                           dialog->Rows().GetItemText(i, 1));
        return rows;
    }
    bool Enabled(int id) { return Control(dialog.get(), id)->isEnabled(); }

    gui::SettingsSandbox sandbox;
    MachineProbes machine;
    MessageBoxRecorder boxes;
    ScriptedNodeStatusProbes probes;
    QWidget window;
    CTarnelView view{sandbox.settings, machine.probes};
    std::unique_ptr<CScanStartDlg> dialog;
};

TEST_F(ScanStartDlgTest, AddChecksItsInputAndKeepsTheListSorted) {
    struct Case {
        const char* start;
        const char* end;
        const char* message; // null: added
    } cases[] = {
        {"10.0.0.5", "10.0.0.9", nullptr},
        {"10.0.0.1", "10.0.0.2", nullptr},
        {"0.0.0.0", "10.0.0.9", "開始アドレスを入力してください。"},
        {"10.0.0.1", "0.0.0.0", "終了アドレスを入力してください。"},
        {"192.168.1.10", "192.168.1.1",
         "IPアドレスの範囲指定に誤りがあります。終了アドレスが開始アドレスより上位に設定されていま"
         "す。"},
        {"192.168.1.10", "192.168.1.10", nullptr},
    };
    Open();
    for (const Case& c : cases) {
        boxes.clear();
        SetAddresses(c.start, c.end);
        Click(dialog.get(), IDC_ADD);
        if (c.message) {
            ASSERT_EQ(boxes.count(), 1u) << c.start;
            EXPECT_EQ(boxes.boxes()[0].text, c.message);
            EXPECT_EQ(boxes.boxes()[0].caption, "注意");
            EXPECT_EQ(boxes.boxes()[0].type, MB_OK | MB_ICONEXCLAMATION);
            EXPECT_EQ(boxes.boxes()[0].owner,
                      static_cast<void*>(static_cast<QWidget*>(dialog.get())));
        } else {
            EXPECT_EQ(boxes.count(), 0u) << c.start;
        }
    }
    EXPECT_EQ(Rows(), (std::vector<std::string>{"10.0.0.1-10.0.0.2", "10.0.0.5-10.0.0.9",
                                                "192.168.1.10-192.168.1.10"}));
    // Add neither clears the boxes nor writes the file; Copy puts the start into the end box.
    EXPECT_EQ(Control<CIpAddressCtrl>(dialog.get(), IDC_START_ADDRESS)->GetAddress(),
              AddressFromText("192.168.1.10"));
    EXPECT_FALSE(TempDir::Exists(sandbox.settings.IpListFileName));
    SetAddresses("10.1.1.1", "0.0.0.0");
    Click(dialog.get(), IDC_COPY);
    EXPECT_EQ(Control<CIpAddressCtrl>(dialog.get(), IDC_END_ADDRESS)->GetAddress(),
              AddressFromText("10.1.1.1"));
}

TEST_F(ScanStartDlgTest, TheHundredAndFirstRangeIsRefusedButALongFileLoads) {
    std::string file;
    for (int i = 1; i <= 101; ++i)
        file += "10.0." + std::to_string(i) + ".1,10.0." + std::to_string(i) + ".2\r\n";
    TempDir::WriteFile(sandbox.settings.IpListFileName, file);
    Open();
    EXPECT_EQ(dialog->Rows().GetItemCount(), 101);
    dialog->Rows().DeleteItem(100);
    dialog->Rows().DeleteItem(99);
    SetAddresses("10.9.0.1", "10.9.0.2");
    Click(dialog.get(), IDC_ADD);
    EXPECT_EQ(dialog->Rows().GetItemCount(), 100);
    EXPECT_EQ(boxes.count(), 0u);
    Click(dialog.get(), IDC_ADD);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "これ以上追加できません。");
    EXPECT_EQ(dialog->Rows().GetItemCount(), 100);
}

TEST_F(ScanStartDlgTest, DeleteTakesTheLastSelectedRowAndThenSelectsTheFirst) {
    struct Case {
        std::vector<int> clicked; // the first plainly, the others with Ctrl
        std::vector<std::string> rowsAfter;
        const char* startBox; // what Delete gave back; null: boxes untouched
        std::vector<int> selectedAfter;
    } cases[] = {
        {{}, {"10.0.0.1-10.0.0.2", "10.0.0.5-10.0.0.9", "10.0.1.1-10.0.1.9"}, nullptr, {}},
        {{1}, {"10.0.0.1-10.0.0.2", "10.0.1.1-10.0.1.9"}, "10.0.0.5", {0}},
        {{2, 0}, {"10.0.0.1-10.0.0.2", "10.0.0.5-10.0.0.9"}, "10.0.1.1", {0}},
        {{1, 2}, {"10.0.0.1-10.0.0.2", "10.0.0.5-10.0.0.9"}, "10.0.1.1", {0, 1}},
    };
    for (const Case& c : cases) {
        TempDir::WriteFile(sandbox.settings.IpListFileName,
                           "10.0.0.1,10.0.0.2\r\n10.0.0.5,10.0.0.9\r\n10.0.1.1,10.0.1.9\r\n");
        Open();
        auto* list = Control<QTreeWidget>(dialog.get(), IDC_RANGE_LIST);
        for (size_t i = 0; i < c.clicked.size(); ++i)
            QTest::mouseClick(list->viewport(), Qt::LeftButton,
                              i == 0 ? Qt::NoModifier : Qt::ControlModifier,
                              list->visualItemRect(list->topLevelItem(c.clicked[i])).center());
        Click(dialog.get(), IDC_DELETE);
        EXPECT_EQ(Rows(), c.rowsAfter);
        auto* start = Control<CIpAddressCtrl>(dialog.get(), IDC_START_ADDRESS);
        EXPECT_EQ(start->GetAddress(), c.startBox ? AddressFromText(c.startBox) : 0u);
        std::vector<int> selected;
        for (int row = 0; row < list->topLevelItemCount(); ++row)
            if (list->topLevelItem(row)->isSelected())
                selected.push_back(row);
        EXPECT_EQ(selected, c.selectedAfter);
        // Delete never writes the list file, and Add puts the range back.
        EXPECT_EQ(TempDir::ReadFile(sandbox.settings.IpListFileName),
                  "10.0.0.1,10.0.0.2\r\n10.0.0.5,10.0.0.9\r\n10.0.1.1,10.0.1.9\r\n");
        if (c.startBox) {
            Click(dialog.get(), IDC_ADD);
            EXPECT_EQ(Rows().size(), 3u);
        }
    }
}

TEST_F(ScanStartDlgTest, StartWithAnEmptyListStartsNothing) {
    Open();
    Click(dialog.get(), IDC_START);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "一つ以上のIPアドレスの組を追加してください。");
    EXPECT_FALSE(dialog->ScanRunning());
    EXPECT_TRUE(Enabled(IDC_START));
}

TEST_F(ScanStartDlgTest, ClosingSavesUnlessCheckedAndEscapeNeverSaves) {
    TempDir::WriteFile(sandbox.settings.IpListFileName, "10.0.0.1,10.0.0.2\r\n");
    struct Case {
        bool dontSave;
        bool escape;
        const char* fileAfter;
    } cases[] = {
        {false, false, "10.0.0.1,10.0.0.2\r\n10.0.0.5,10.0.0.6\r\n"},
        {true, false, "10.0.0.1,10.0.0.2\r\n"},
        {false, true, "10.0.0.1,10.0.0.2\r\n"},
    };
    for (const Case& c : cases) {
        TempDir::WriteFile(sandbox.settings.IpListFileName, "10.0.0.1,10.0.0.2\r\n");
        Open();
        SetAddresses("10.0.0.5", "10.0.0.6");
        Click(dialog.get(), IDC_ADD);
        Control<QCheckBox>(dialog.get(), IDC_DONT_SAVE_ON_CLOSE)->setChecked(c.dontSave);
        if (c.escape)
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        else
            Click(dialog.get(), IDC_CLOSE);
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(TempDir::ReadFile(sandbox.settings.IpListFileName), c.fileAfter);
    }
}

TEST_F(ScanStartDlgTest, ChangingTheListFileAsksBeforeLoadingIt) {
    TempDir::WriteFile(sandbox.settings.IpListFileName, "10.0.0.1,10.0.0.2\r\n");
    const std::string other = sandbox.dir.file("other.lst");
    TempDir::WriteFile(other, "10.9.9.1,10.9.9.9\r\n");
    struct Case {
        std::string chosen;
        int answer;
        std::vector<std::string> rows;
        size_t questions;
    } cases[] = {
        {other, IDNO, {"10.0.0.1-10.0.0.2"}, 1},
        {other, IDYES, {"10.9.9.1-10.9.9.9"}, 1},
        {sandbox.dir.file("new.lst"), IDYES, {"10.0.0.1-10.0.0.2"}, 0}, // nothing to load yet
    };
    for (const Case& c : cases) {
        sandbox.settings.IpListFileName = sandbox.dir.file("iplist.lst");
        boxes.clear();
        boxes.setAnswer(c.answer);
        Open();
        // The list file name dialog is modal: answer it once it is up.
        QTimer::singleShot(0, [&c] {
            QWidget* names = QApplication::activeModalWidget();
            ASSERT_NE(names, nullptr);
            Control<QLineEdit>(names, IDC_LIST_FILE_NAME)
                ->setText(QString::fromStdString(c.chosen));
            Click(names, IDOK_BUTTON);
        });
        Click(dialog.get(), IDC_CHANGE_LIST_FILE);
        EXPECT_EQ(sandbox.settings.IpListFileName, c.chosen);
        ASSERT_EQ(boxes.count(), c.questions);
        for (const MessageBoxRequest& box : boxes.boxes()) {
            EXPECT_EQ(box.text, "今選択したファイルから、IPアドレス一覧を読み込みますか。");
            EXPECT_EQ(box.caption, "確認");
            EXPECT_EQ(box.buttons(), MB_YESNO);
            EXPECT_EQ(box.owner, static_cast<void*>(static_cast<QWidget*>(dialog.get())));
        }
        EXPECT_EQ(Rows(), c.rows);
    }
}

TEST_F(ScanStartDlgTest, AScanFillsTheViewRefusesToCloseAndResetsTheControls) {
    TempDir::WriteFile(sandbox.settings.IpListFileName, "10.0.0.1,10.0.0.4\r\n10.0.0.255,10.0.1.0\r\n");
    for (const char* address : {"10.0.0.2", "10.0.0.4"})
        probes.hosts[address].echo = true;
    probes.Hold(true);
    Open();
    Click(dialog.get(), IDC_START);
    ASSERT_TRUE(dialog->ScanRunning());
    const std::vector<std::pair<int, bool>> during = {{IDC_CLOSE, false},
                                                      {IDC_START, false},
                                                      {IDC_STOP, true},
                                                      {IDC_START_ADDRESS, false},
                                                      {IDC_END_ADDRESS, false},
                                                      {IDC_COPY, false},
                                                      {IDC_ADD, false},
                                                      {IDC_DELETE, false},
                                                      {IDC_CHANGE_LIST_FILE, false},
                                                      {IDC_SAVE, false},
                                                      {IDC_DONT_SAVE_ON_CLOSE, true}};
    for (auto [id, enabled] : during)
        EXPECT_EQ(Enabled(id), enabled) << id;
    // Neither Escape nor the window manager's close ends the dialog now.
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    dialog->close();
    EXPECT_TRUE(dialog->isVisible());

    probes.Hold(false);
    ASSERT_TRUE(gui::WaitFor([this] { return !dialog->ScanRunning(); }));
    std::vector<std::string> rows;
    for (int i = 0; i < view.GetItemCount(); ++i)
        rows.push_back(view.GetItemText(i, 0) + view.GetItemText(i, HostRecord::kResponse));
    EXPECT_EQ(rows, (std::vector<std::string>{"10.0.0.2○", "10.0.0.4○"}));
    const std::vector<std::pair<int, bool>> after = {
        {IDC_CLOSE, true},         {IDC_START, true}, {IDC_STOP, false},
        {IDC_START_ADDRESS, true}, {IDC_ADD, true},   {IDC_CHANGE_LIST_FILE, false},
        {IDC_SAVE, false}};
    for (auto [id, enabled] : after)
        EXPECT_EQ(Enabled(id), enabled) << id;
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
}

// The list takes at most 20000 rows of one scan: the scan stops there and
// the window says so, once.
TEST_F(ScanStartDlgTest, AScanStopsAt20000RowsAndSaysSo) {
    sandbox.settings.DontDeleteUnresolvedAddress = 1;
    TempDir::WriteFile(sandbox.settings.IpListFileName, "10.1.0.1,10.1.100.254\r\n");
    Open();
    Click(dialog.get(), IDC_START);
    ASSERT_TRUE(gui::WaitFor([this] { return !dialog->ScanRunning(); }, 120000));
    gui::WaitFor([this] { return boxes.count() > 0; }, 2000);
    EXPECT_EQ(view.GetItemCount(), 20000);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "20000台を超えたので停止します。");
    EXPECT_EQ(boxes.boxes()[0].caption, "確認");
    EXPECT_EQ(boxes.boxes()[0].icon(), 0u);
}

// What goes wrong as a scan starts and runs is told in boxes, in order: the
// list file's refused lines and the scan's own trouble over the main window,
// what a probe met on this machine in a box of its own.
TEST_F(ScanStartDlgTest, TroubleInAScanIsToldInBoxesOverTheMainWindowOrOnTheirOwn) {
    using Box = std::tuple<std::string, std::string, void*>; // text, caption, owner
    void* const main = static_cast<void*>(&window);
    const UserMessage shortage{"no descriptors", "エラー", MB_OK | MB_ICONERROR};
    const std::string refused =
        "IPリストファイルの次の行は正しいIPアドレスの範囲ではないため、調べません。\n"
        "1行目：開始IPアドレスがIPアドレスではありません。";
    const struct {
        const char* name;
        std::string list;
        unsigned char lanaCode;
        bool probeTells;
        std::vector<Box> boxes;
    } cases[] = {
        {"a refused line",
         "junk,10.0.0.1\r\n10.0.0.1,10.0.0.1\r\n",
         0,
         false,
         {{refused, "注意", main}}},
        {"no adapter",
         "10.0.0.1,10.0.0.1\r\n",
         NRC_BRIDGE,
         false,
         {{"アダプタの初期化に失敗しました。", "エラー", main},
          {"netbios:ncb_lana_numが正しいネットワーク番号を指定していません", "kestrune", main}}},
        {"a probe's trouble",
         "10.0.0.1,10.0.0.1\r\n",
         0,
         true,
         {{shortage.text, shortage.caption, nullptr}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        TempDir::WriteFile(sandbox.settings.IpListFileName, c.list);
        probes.lana = {c.lanaCode ? 10 : 0, c.lanaCode};
        probes.echoNotices.clear();
        if (c.probeTells)
            probes.echoNotices["10.0.0.1"] = shortage;
        Open();
        Click(dialog.get(), IDC_START);
        ASSERT_TRUE(gui::WaitFor([this] { return !dialog->ScanRunning(); }));
        std::vector<Box> shown;
        for (const MessageBoxRequest& box : boxes.boxes()) {
            // The adapter's box is long; its first sentence says enough.
            const std::string first = "アダプタの初期化に失敗しました。";
            shown.emplace_back(box.text.rfind(first, 0) == 0 ? first : box.text, box.caption,
                               box.owner);
            EXPECT_EQ(box.icon(), box.caption == "注意" ? MB_ICONEXCLAMATION : MB_ICONERROR);
        }
        EXPECT_EQ(shown, c.boxes);
    }
}

TEST_F(ScanStartDlgTest, StopEndsTheScanWithTheStartedProbes) {
    TempDir::WriteFile(sandbox.settings.IpListFileName, "10.0.0.1,10.0.3.254\r\n");
    probes.Hold(true);
    Open();
    Click(dialog.get(), IDC_START);
    ASSERT_TRUE(gui::WaitFor([this] { return view.GetItemCount() > 0; }));
    Click(dialog.get(), IDC_STOP);
    probes.Hold(false);
    ASSERT_TRUE(gui::WaitFor([this] { return !dialog->ScanRunning(); }));
    // Every probed address was silent, so no row stays; far fewer than the
    // thousand addresses of the range were drawn.
    EXPECT_EQ(view.GetItemCount(), 0);
    EXPECT_LT(probes.Calls().size(), 100u);
}

// The view knows the scan its dialog runs and stops it when the program is
// asked to end.
TEST_F(ScanStartDlgTest, TheViewStopsTheScanItsDialogRuns) {
    TempDir::WriteFile(sandbox.settings.IpListFileName, "10.0.0.1,10.0.3.254\r\n");
    CTarnelView scanning(sandbox.settings, probes);
    EXPECT_FALSE(scanning.ScanRunning());
    probes.Hold(true);
    bool runningSeen = false, ended = false;
    ModalScript script(false, [&](QWidget* opened) {
        Click(opened, IDC_START);
        runningSeen = scanning.ScanRunning();
        scanning.StopScan();
        probes.Hold(false);
        ended = gui::WaitFor([&] { return !scanning.ScanRunning(); });
        Click(opened, IDC_CLOSE);
    });
    EXPECT_TRUE(scanning.OnCommand(ID_SCAN_START));
    ASSERT_TRUE(script.ran());
    EXPECT_TRUE(runningSeen);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(scanning.ScanRunning());
    // Stopped, not run to the end of its thousand addresses.
    EXPECT_LT(probes.Calls().size(), 100u);
}

TEST_F(ScanStartDlgTest, TheFastScanSettingPicksTheEventDrivenEngine) {
    // The scripted probes serve only the thread-per-probe engine; the
    // event-driven one sends on its own sockets, here to loopback only, and
    // never calls them, so neither the script's calls nor its name appear.
    TempDir::WriteFile(sandbox.settings.IpListFileName, "127.0.0.1,127.0.0.1\r\n");
    const std::vector<std::string> threadCalls = {"ping 127.0.0.1", "query 127.0.0.1 lana 0"};
    const struct {
        int fastScan;
        bool threadEngine;
    } cases[] = {{0, true}, {1, false}, {2, true}}; // only 1 counts as on
    ScriptedHost& host = probes.hosts["127.0.0.1"];
    host.echo = true;
    host.code = 0;
    host.names.push_back({"SCRIPTED", 0x00, false});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fastScan);
        const std::size_t before = probes.Calls().size();
        sandbox.settings.FastScan = c.fastScan;
        Open();
        Click(dialog.get(), IDC_START);
        ASSERT_TRUE(dialog->ScanRunning());
        ASSERT_TRUE(gui::WaitFor([this] { return !dialog->ScanRunning(); }));
        const std::vector<std::string> calls = probes.Calls();
        EXPECT_EQ(std::vector<std::string>(calls.begin() + before, calls.end()),
                  c.threadEngine ? threadCalls : std::vector<std::string>{});
        bool scriptedRow = false;
        for (int i = 0; i < view.GetItemCount(); ++i)
            scriptedRow = scriptedRow || view.GetItemText(i, HostRecord::kComputer) == "SCRIPTED";
        EXPECT_EQ(scriptedRow, c.threadEngine);
    }
}

} // namespace
