// The result view: its columns, and the result list reached from other
// threads the way the scan reaches it.

#include "scan/HostRecord.h"
#include "tests/support/GuiHarness.h"
#include "view/CTarnelView.h"

#include <QHeaderView>
#include <thread>

#include <gtest/gtest.h>

namespace {

TEST(ResultViewTest, ShowsTheSevenColumnsWithTheirMarginsAndNoRows) {
    CTarnelView view;
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

TEST(ResultViewTest, CallsFromScanThreadsAreAppliedOnTheWindowThreadInOrder) {
    CTarnelView view;
    constexpr int kThreads = 4, kRows = 50;
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRows; ++i) {
                const int row = view.InsertItem(view.GetItemCount(), "t" + std::to_string(t));
                // A cell written right after its row's insert is always there.
                EXPECT_TRUE(view.SetItemText(row, 1, std::to_string(i)));
            }
            ++done;
        });
    }
    ASSERT_TRUE(gui::WaitFor([&] { return done == kThreads; }));
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_EQ(view.GetItemCount(), kThreads * kRows);

    // Deleting rows that exist never fails; one that does not exist does.
    std::thread remover([&] {
        for (int i = 0; i < kThreads * kRows; i += 2)
            EXPECT_TRUE(view.DeleteItem(0));
        EXPECT_FALSE(view.DeleteItem(kThreads * kRows));
        ++done;
    });
    ASSERT_TRUE(gui::WaitFor([&] { return done == kThreads + 1; }));
    remover.join();
    EXPECT_EQ(view.GetItemCount(), kThreads * kRows / 2);
    EXPECT_EQ(view.ReadCell(0, 5, 256), "");
    EXPECT_TRUE(view.DeleteAllItems());
    EXPECT_EQ(view.GetItemCount(), 0);
}

} // namespace
