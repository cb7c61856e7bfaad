// The in-memory sink keeps each row's whole record, and its reasons and round
// trip stay with their row when the silent rows go.

#include "core/scan/MemoryScanSink.h"

#include <gtest/gtest.h>

namespace {

HostRecord Record(const std::string& address, bool answered, unsigned reasons, int rttMs) {
    HostRecord record =
        RecordOfCells({address, answered ? HostRecord::kAnswered : HostRecord::kSilent, "", "", "",
                       "", ""});
    record.reasons = reasons;
    record.rttMs = rttMs;
    return record;
}

TEST(MemoryScanSink, RecordsStayWithTheirRowsWhenSilentRowsGo) {
    const std::vector<HostRecord> found = {
        Record("10.0.0.1", false, 0, -1),
        Record("10.0.0.2", true, HostRecord::kReasonEcho, 4),
        Record("10.0.0.3", false, 0, -1),
        Record("10.0.0.4", false, 0, -1),
        Record("10.0.0.5", true, HostRecord::kReasonArp | HostRecord::kReasonPortUnreachable, 9),
        Record("10.0.0.6", true, HostRecord::kReasonNbstat, -1),
        Record("10.0.0.7", false, 0, -1),
    };
    for (const bool keepSilent : {false, true}) {
        MemoryScanSink sink;
        sink.RowsCleared();
        // Rows come in any order; a row's result may come twice, the last wins.
        for (int row : {0, 1, 2, 3, 4, 5, 6})
            sink.RowAdded(row, CellOf(found[row], HostRecord::kAddress));
        for (int row : {6, 4, 0, 5, 1, 3, 2})
            sink.RowResult(row, Record(CellOf(found[row], HostRecord::kAddress), true, HostRecord::kReasonEcho, 1));
        for (int row : {2, 5, 0, 6, 3, 1, 4})
            sink.RowResult(row, found[row]);
        ScanSummary summary;
        summary.keepSilent = keepSilent;
        sink.Finished(summary);

        std::vector<HostRecord> expected;
        for (const HostRecord& record : found)
            if (keepSilent || record.response == HostRecord::Response::Answered)
                expected.push_back(record);
        EXPECT_EQ(sink.rows.Records(), expected) << keepSilent;
        const auto cells = sink.rows.Rows();
        ASSERT_EQ(cells.size(), expected.size());
        for (std::size_t i = 0; i < cells.size(); ++i)
            EXPECT_EQ(cells[i], CellsOf(expected[i]));
    }
}

} // namespace
