// The window's memory of its scans, driven through the window with scripted
// probes (nothing is sent): the counts in the status bar after each recorded
// scan, 前回との比較 with its CSV, a row's 履歴, the option that turns
// recording off, and a store that cannot be written.

#include "core/inventory/sqlite/InventoryStore.h"
#include "core/settings/SettingsStore.h"
#include "core/res/Resource.h"
#include "gui/dialogs/CScanStartDlg.h"
#include "gui/shell/CMainFrame.h"
#include "gui/view/CTarnelView.h"
#include "gui/view/ScanMemory.h"
#include "platform/win32/FileDialog.h"
#include "platform/text/TextCodec.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/ModalScript.h"
#include "tests/support/ScriptedNodeStatusProbes.h"

#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include <gtest/gtest.h>

namespace {

using Host = std::tuple<const char*, unsigned char, const char*>; // address, MAC's last byte, name

ScriptedHost Answering(unsigned char macByte, const char* name) {
    ScriptedHost host;
    host.echo = true;
    host.code = 0;
    host.mac = {0x00, 0x11, 0x22, 0x33, 0x44, macByte};
    host.names = {{name, 0x00, false}, {"WG", 0x00, true}};
    return host;
}

// The rows of the dialog's list, each row's cells from `first` on joined by "|".
std::vector<std::string> ListRows(QWidget* dialog, int first = 0, int last = -1) {
    auto* list = gui::Control<QTreeWidget>(dialog, IDC_INVENTORY_LIST);
    std::vector<std::string> rows;
    for (int i = 0; list && i < list->topLevelItemCount(); ++i) {
        QStringList cells;
        const int end = last < 0 ? list->columnCount() - 1 : last;
        for (int column = first; column <= end; ++column)
            cells << list->topLevelItem(i)->text(column);
        rows.push_back(cells.join('|').toStdString());
    }
    return rows;
}

class InventoryWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        sandbox.settings.DontDeleteUnresolvedAddress = 1; // silent rows stay, for their 履歴
        TempDir::WriteFile(sandbox.settings.IpListFileName, "127.0.0.1,127.0.0.4\r\n");
        ASSERT_TRUE(frame.OnCreate());
        frame.show();
    }

    QString Pane() {
        return frame.statusBar()->findChild<QLabel*>("inventoryPane")->text();
    }

    // The status bar's panes that are not hidden.
    int ShownPanes() {
        int shown = 0;
        for (QLabel* pane :
             frame.statusBar()->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
            shown += !pane->isHidden();
        return shown;
    }

    // One whole scan from the scan start dialog; then waits for its record.
    void Scan(const std::vector<Host>& hosts) {
        probes.hosts.clear();
        for (const auto& [address, mac, name] : hosts)
            probes.hosts[address] = Answering(mac, name);
        ModalScript script(false, [](QWidget* dialog) {
            gui::Click(dialog, IDC_START);
            gui::WaitFor([dialog] { return gui::Control(dialog, IDC_CLOSE)->isEnabled(); });
            gui::Click(dialog, IDC_CLOSE);
        });
        frame.OnCommand(ID_SCAN_START);
        ASSERT_TRUE(script.ran());
        ASSERT_TRUE(gui::WaitFor([this] { return frame.View()->Memory()->Pending() == 0; }));
    }

    // Runs a command that opens a modal inventory dialog and hands it to `look`.
    bool OpenDialog(int command, const std::function<void(QWidget*)>& look) {
        ModalScript script(false, [&](QWidget* dialog) {
            look(dialog);
            QTest::keyClick(dialog, Qt::Key_Escape); // Esc closes it
        });
        frame.OnCommand(command);
        return script.ran();
    }

    int RowOf(const char* address) {
        for (int row = 0; row < frame.View()->GetItemCount(); ++row)
            if (frame.View()->GetItemText(row, 0) == address)
                return row;
        return -1;
    }

    gui::SettingsSandbox sandbox;
    MessageBoxRecorder boxes;
    ScriptedNodeStatusProbes probes;
    CMainFrame frame{sandbox.settings, {}, probes};
};

TEST_F(InventoryWindowTest, EachScanIsRecordedAndItsChangesShownCountedListedAndSaved) {
    sandbox.settings.RecordScans = 1;
    // No scan yet: said plainly, no dialog.
    EXPECT_FALSE(OpenDialog(ID_SHOW_CHANGES, [](QWidget*) {}));
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "スキャンの記録はまだありません。");
    boxes.clear();

    const struct {
        std::vector<Host> hosts;
        const char* pane;
    } scans[] = {
        {{{"127.0.0.1", 1, "PC01"}, {"127.0.0.2", 2, "=cmd"}},
         "前回との比較: 新規 2・消失 0・変更 0"},
        {{{"127.0.0.1", 1, "PC01"}, {"127.0.0.2", 2, "=cmd"}, {"127.0.0.3", 3, "PC03"}},
         "前回との比較: 新規 1・消失 0・変更 0"},
        {{{"127.0.0.2", 2, "=cmd"}, {"127.0.0.3", 3, "PC03"}},
         "前回との比較: 新規 0・消失 0・変更 0"},
        // .1 absent from two complete scans in a row; .2 renamed to a name with a comma.
        {{{"127.0.0.2", 2, "A,B"}, {"127.0.0.3", 3, "PC03"}},
         "前回との比較: 新規 0・消失 1・変更 1"},
    };
    for (const auto& scan : scans) {
        Scan(scan.hosts);
        EXPECT_EQ(Pane().toStdString(), scan.pane);
    }
    EXPECT_EQ(boxes.count(), 0u);
    // The existing panes keep their texts.
    EXPECT_EQ(frame.PaneTexts().front(), "ﾚﾃﾞｨ");

    const std::string csv = sandbox.dir.file("changes.csv");
    const FileDialogHandler previous =
        SetFileDialogHandler([&](const FileDialogRequest&, std::string& path) {
            path = csv;
            return true;
        });
    EXPECT_TRUE(OpenDialog(ID_SHOW_CHANGES, [](QWidget* dialog) {
        EXPECT_EQ(ListRows(dialog, 0, 4),
                  (std::vector<std::string>{"消失|127.0.0.1|001122334401|PC01/WG|",
                                            "名前変更|127.0.0.2|001122334402|=cmd/WG|A,B/WG"}));
        gui::Click(dialog, IDC_INVENTORY_SAVE);
    }));
    SetFileDialogHandler(previous);
    const std::string text = Cp932ToUtf8(TempDir::ReadFile(csv));
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, text.rfind(',', end) - at)); // without 初回
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "種類,アドレス,識別,変更前,変更後",
                         "消失,127.0.0.1,001122334401,PC01/WG,-",
                         "名前変更,127.0.0.2,001122334402,'=cmd/WG,\"A,B/WG\""}));
    EXPECT_EQ(boxes.count(), 0u);

    // A row's 履歴: each scan that saw it, a departure, and what changed.
    const struct {
        const char* address;
        std::vector<std::string> rows; // IPアドレス to 変化
        const char* box;              // told instead of a dialog
    } histories[] = {
        {"127.0.0.1",
         {"127.0.0.1|○|PC01|WG|001122334401||新規", "127.0.0.1|○|PC01|WG|001122334401||",
          "127.0.0.1|消失|||||消失 PC01/WG"},
         nullptr},
        {"127.0.0.2",
         {"127.0.0.2|○|=cmd|WG|001122334402||新規", "127.0.0.2|○|=cmd|WG|001122334402||",
          "127.0.0.2|○|=cmd|WG|001122334402||", "127.0.0.2|○|A,B|WG|001122334402||名前変更 =cmd/WG→A,B/WG"},
         nullptr},
        {"127.0.0.4", {}, "127.0.0.4 の記録はありません。"},
    };
    for (const auto& h : histories) {
        SCOPED_TRACE(h.address);
        boxes.clear();
        frame.View()->m_nContextRow = RowOf(h.address);
        ASSERT_GE(frame.View()->m_nContextRow, 0);
        std::vector<std::string> shown;
        const bool opened = OpenDialog(ID_HOST_HISTORY, [&](QWidget* dialog) {
            // The vendor and messenger columns are left out of the comparison.
            for (std::string row : ListRows(dialog, 1, 8)) {
                std::vector<std::string> cells;
                for (std::size_t at = 0, bar;; at = bar + 1) {
                    bar = row.find('|', at);
                    cells.push_back(row.substr(at, bar - at));
                    if (bar == std::string::npos)
                        break;
                }
                shown.push_back(cells[0] + "|" + cells[1] + "|" + cells[2] + "|" + cells[3] +
                                "|" + cells[4] + "||" + cells[7]);
            }
        });
        EXPECT_EQ(opened, h.box == nullptr);
        EXPECT_EQ(shown, h.rows);
        EXPECT_EQ(boxes.count(), h.box ? 1u : 0u);
        if (h.box && boxes.count()) {
            EXPECT_EQ(boxes.boxes()[0].text, h.box);
        }
    }
}

// A fresh settings store scans without any inventory and with the five
// panes; recording chosen in the options shows the sixth and records; a scan
// that found no adapter records nothing (the rows still in the view are the
// previous scan's).
TEST_F(InventoryWindowTest, RecordingIsOffUntilChosenAndAFailedScanRecordsNothing) {
    const std::string store = sandbox.dir.file("inventory.sqlite");
    SettingsStore().Load(sandbox.settings);
    ASSERT_EQ(sandbox.settings.RecordScans, 0);
    sandbox.settings.DontDeleteUnresolvedAddress = 1;
    sandbox.settings.PingTimeout = 1000;
    sandbox.settings.MaxThread = 4;
    gui::WaitFor([] { return false; }, 300); // the panes follow the loaded settings
    Scan({{"127.0.0.1", 1, "PC01"}});
    EXPECT_EQ(frame.View()->GetItemText(0, 2), "PC01");
    EXPECT_FALSE(std::filesystem::exists(store));
    EXPECT_EQ(ShownPanes(), 5);
    EXPECT_EQ(boxes.count(), 0u);

    ModalScript options(false, [](QWidget* dialog) {
        gui::Click(dialog, IDC_RECORD_SCANS);
        gui::Click(dialog, IDOK_BUTTON);
    });
    frame.OnCommand(ID_OPTIONS);
    ASSERT_TRUE(options.ran());
    EXPECT_EQ(sandbox.settings.RecordScans, 1);
    EXPECT_EQ(ShownPanes(), 6);
    Scan({{"127.0.0.1", 1, "PC01"}, {"127.0.0.2", 2, "PC02"}});
    EXPECT_EQ(Pane().toStdString(), "前回との比較: 新規 2・消失 0・変更 0");
    ASSERT_TRUE(std::filesystem::exists(store));

    probes.lana = {10, 0x23}; // no adapter
    Scan({{"127.0.0.3", 3, "PC03"}});
    EXPECT_EQ(boxes.count(), 2u); // the adapter failure and its code
    EXPECT_EQ(frame.View()->GetItemText(1, 2), "PC02");
    EXPECT_EQ(InventoryStore::Open(store).store->ScanCount(), 1);
}

TEST_F(InventoryWindowTest, RecordingTurnedOffOrImpossibleKeepsTheScanAndTellsOnce) {
    const std::string store = sandbox.dir.file("inventory.sqlite");
    const struct {
        int recordScans;
        const char* directory; // the program directory; null: the sandbox
        const char* pane;
        std::size_t boxes;
    } cases[] = {
        {0, nullptr, "", 0},                                       // off: nothing written
        {1, "missing/", "", 1},                                    // cannot be opened: told
        {1, "missing/", "", 0},                                    // ... once
        {1, nullptr, "前回との比較: 新規 1・消失 0・変更 0", 0}, // recorded again
        {1, "missing/", "", 1},                                    // told again after that
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.recordScans) + (c.directory ? c.directory : ""));
        boxes.clear();
        sandbox.settings.RecordScans = c.recordScans;
        sandbox.settings.ProgramDirectoryPath = sandbox.dir.path() + (c.directory ? c.directory : "");
        Scan({{"127.0.0.1", 1, "PC01"}});
        EXPECT_EQ(frame.View()->GetItemText(0, 2), "PC01"); // the scan's rows are there
        EXPECT_EQ(Pane().toStdString(), c.pane);
        ASSERT_EQ(boxes.count(), c.boxes);
        if (c.boxes) {
            EXPECT_NE(boxes.boxes()[0].text.find("記録できませんでした"), std::string::npos);
        }
    }
    EXPECT_EQ(InventoryStore::Open(store).store->ScanCount(), 1);
}

} // namespace
