// The result view: its columns, and a scan's reports reaching its model
// from the scan's threads.

#include "core/scan/HostRecord.h"
#include "gui/model/ModelScanSink.h"
#include "gui/model/ResultModel.h"
#include "gui/view/CTarnelView.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MachineProbes.h"

#include <QHeaderView>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

namespace {

TEST(ResultViewTest, ShowsTheSevenColumnsWithTheirMarginsAndNoRows) {
    gui::SettingsSandbox sandbox;
    MachineProbes machine;
    CTarnelView view(sandbox.settings, machine.probes);
    // The widths follow the list's font even where the header shows another.
    QFont listFont = view.font();
    listFont.setPointSize(14);
    view.setFont(listFont);
    QFont headerFont = listFont;
    headerFont.setPointSize(7);
    view.horizontalHeader()->setFont(headerFont);
    view.OnInitialUpdate();
    ASSERT_EQ(view.model()->columnCount(), HostRecord::kColumnCount);
    const QFontMetrics metrics(view.font());
    for (int column = 0; column < HostRecord::kColumnCount; ++column) {
        const QString title = QString::fromUtf8(HostRecord::kTitles[column]);
        ASSERT_NE(QFontMetrics(headerFont).horizontalAdvance(title),
                  metrics.horizontalAdvance(title));
        EXPECT_EQ(view.GetColumnTitle(column), HostRecord::kTitles[column]);
        EXPECT_EQ(view.columnWidth(column),
                  metrics.horizontalAdvance(title) + CTarnelView::kColumnMargins[column]);
    }
    EXPECT_LT(view.columnWidth(HostRecord::kResponse), view.columnWidth(HostRecord::kAddress));
    EXPECT_EQ(view.GetItemCount(), 0);
    EXPECT_EQ(view.m_nContextRow, -1);
    EXPECT_EQ(view.m_nFoundRow, -1);
    EXPECT_EQ(view.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(view.selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(view.editTriggers(), QAbstractItemView::NoEditTriggers);
}

// A scan's reports from its threads reach the model on the window thread, in
// order: a row is there before its results, the last results win, and the
// end removes the silent rows unless they are kept.
TEST(ResultViewTest, AScansReportsReachTheModelInOrder) {
    for (const bool keepSilent : {false, true}) {
        gui::SettingsSandbox sandbox;
        MachineProbes machine;
        CTarnelView view(sandbox.settings, machine.probes);
        view.InsertItem(0, "a row of an earlier scan");
        ModelScanSink sink(view.Model());
        std::vector<std::string> reported;
        QObject::connect(&sink, &ModelScanSink::lanaChosen,
                         [&](int lana) { reported.push_back("lana " + std::to_string(lana)); });
        QObject::connect(&sink, &ModelScanSink::finished, [&](const ScanSummary& summary) {
            reported.push_back(summary.stopped ? "stopped" : "finished");
        });
        constexpr int kWorkers = 4, kRows = 200;
        std::thread manager([&] {
            sink.LanaChosen(3);
            sink.RowsCleared();
            for (int row = 0; row < kRows; ++row)
                sink.RowAdded(row, "10.0." + std::to_string(row / 250) + "." +
                                       std::to_string(row % 250 + 1));
        });
        manager.join();
        std::vector<std::thread> workers;
        for (int w = 0; w < kWorkers; ++w) {
            workers.emplace_back([&, w] {
                for (int row = w; row < kRows; row += kWorkers) {
                    HostRecord record;
                    record.address = 0xC0000201; // ignored: the address stays as added
                    record.response = row % 3 ? HostRecord::Response::Answered
                                              : HostRecord::Response::Silent;
                    sink.RowResult(row, record);
                    record.computer = "PC" + std::to_string(row);
                    sink.RowResult(row, record);
                }
            });
        }
        for (std::thread& worker : workers)
            worker.join();
        ScanSummary summary;
        summary.keepSilent = keepSilent;
        sink.Finished(summary);
        ASSERT_TRUE(gui::WaitFor([&] { return reported.size() == 2; }));
        EXPECT_EQ(reported, (std::vector<std::string>{"lana 3", "finished"}));

        int expectedRow = 0;
        for (int row = 0; row < kRows; ++row) {
            if (!keepSilent && row % 3 == 0)
                continue;
            ASSERT_LT(expectedRow, view.GetItemCount());
            EXPECT_EQ(view.GetItemText(expectedRow, HostRecord::kComputer),
                      "PC" + std::to_string(row));
            EXPECT_EQ(view.GetItemText(expectedRow, HostRecord::kResponse),
                      row % 3 ? "○" : "×");
            ++expectedRow;
        }
        EXPECT_EQ(view.GetItemCount(), expectedRow);
    }
}

// With the event-driven engine, the response cell's tool tip names what
// showed the host to be there; otherwise the cell's own text, as before.
TEST(ResultViewTest, TheResponseTipNamesTheEvidenceOnlyWhenTheSinkShowsIt) {
    const struct {
        bool show;
        unsigned reasons;
        const char* tip;
    } cases[] = {
        {true, HostRecord::kReasonArp | HostRecord::kReasonNbstat, "応答: ARP, NetBIOS"},
        {true, HostRecord::kReasonEcho | HostRecord::kReasonPortUnreachable,
         "応答: ping, ポート到達不能"},
        {true, 0, "○"},
        {false, HostRecord::kReasonEcho, "○"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tip);
        gui::SettingsSandbox sandbox;
        MachineProbes machine;
        CTarnelView view(sandbox.settings, machine.probes);
        ModelScanSink sink(view.Model());
        sink.ShowReasons(c.show);
        sink.RowsCleared();
        sink.RowAdded(0, "10.0.0.1");
        HostRecord record;
        record.address = 0x0A000001;
        record.response = HostRecord::Response::Answered;
        record.reasons = c.reasons;
        sink.RowResult(0, record);
        sink.Drain();
        const QModelIndex cell = view.model()->index(0, HostRecord::kResponse);
        EXPECT_EQ(view.model()->data(cell, Qt::ToolTipRole).toString().toStdString(), c.tip);
        EXPECT_EQ(view.model()->data(cell, Qt::DisplayRole).toString().toStdString(), "○");
    }
}

// With the event-driven engine, the computer cell's tool tip lists every name
// of the host with its source, also when it has no NetBIOS name; the names
// show as the text they are. Without it, the cell's own text, as before.
TEST(ResultViewTest, TheComputerTipListsEveryNameOnlyWhenTheSinkShowsThem) {
    using S = HostRecord::NameSource;
    const struct {
        bool show;
        std::optional<std::string> computer;
        std::vector<HostRecord::Name> names;
        std::optional<std::string> tip; // as shown
    } cases[] = {
        {true,
         "KEIRI",
         {{"k.example.jp", S::Dns}, {"k.local", S::Mdns}, {"k", S::Llmnr}},
         "名前:\nNetBIOS: KEIRI\nmDNS: k.local\nLLMNR: k\nDNS: k.example.jp"},
        {true, {}, {{"a.jp", S::Dns}, {"b.jp", S::Dns}}, "名前:\nDNS: a.jp\nDNS: b.jp"},
        {true, "KEIRI", {}, "名前:\nNetBIOS: KEIRI"},
        {true, {}, {}, {}},
        {true,
         "<b>K</b>",
         {{"<img src=\"/etc/x\">", S::Mdns}, {"&lt;i&gt; x  y", S::Llmnr}},
         "名前:\nNetBIOS: <b>K</b>\nmDNS: <img src=\"/etc/x\">\nLLMNR: &lt;i&gt; x  y"},
        {false, "KEIRI", {{"k.local", S::Mdns}}, "KEIRI"},
        {false, "<b>K</b>", {}, "<b>K</b>"},
        {false, "&lt;K&gt;", {}, "&lt;K&gt;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tip.value_or("no tip"));
        gui::SettingsSandbox sandbox;
        MachineProbes machine;
        CTarnelView view(sandbox.settings, machine.probes);
        view.OnInitialUpdate();
        view.show();
        ModelScanSink sink(view.Model());
        sink.ShowReasons(c.show);
        sink.ShowNames(c.show);
        sink.RowsCleared();
        sink.RowAdded(0, "10.0.0.1");
        HostRecord record;
        record.response = HostRecord::Response::Answered;
        record.computer = c.computer;
        record.names = c.names;
        sink.RowResult(0, record);
        sink.Drain();
        EXPECT_EQ(view.GetItemText(0, HostRecord::kComputer), c.computer.value_or(""));
        EXPECT_EQ(gui::HoverTip(view, view.model()->index(0, HostRecord::kComputer)), c.tip);
    }
}

// A cell set by hand keeps the row's names (the last cell borders them).
TEST(ResultViewTest, ACellSetByHandKeepsTheNames) {
    gui::SettingsSandbox sandbox;
    MachineProbes machine;
    CTarnelView view(sandbox.settings, machine.probes);
    ModelScanSink sink(view.Model());
    sink.ShowNames(true);
    sink.RowsCleared();
    sink.RowAdded(0, "10.0.0.1");
    HostRecord record;
    record.messengers = {"M"};
    record.names = {{"f.jp", HostRecord::NameSource::Dns}};
    sink.RowResult(0, record);
    sink.Drain();
    view.SetItemText(0, HostRecord::kMessenger, "");
    view.SetItemText(0, HostRecord::kComputer, "F");
    EXPECT_EQ(gui::HoverTip(view, view.model()->index(0, HostRecord::kComputer)),
              "名前:\nNetBIOS: F\nDNS: f.jp");
    EXPECT_EQ(view.GetItemText(0, HostRecord::kMessenger), "");
}

} // namespace
