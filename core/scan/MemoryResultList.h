#pragma once
// The result list kept in memory, for the command-line scanner and the engine
// tests. Every call takes one lock, so it may be used from several threads.
// Each row is a host's value (packed, PackedHost.h), its cells made from it
// as they are read (HostCells.h), so what showed a host to be there and its
// round trip stay with its row through insertions and removals.

#include "core/scan/HostCells.h"
#include "core/scan/HostRecord.h"
#include "core/scan/PackedHost.h"
#include "core/scan/ResultList.h"

#include <array>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

class MemoryResultList : public ResultList {
public:
    using Row = HostCells;

    int GetItemCount() override;
    int InsertItem(int index, const std::string& text) override;
    bool SetItemText(int row, int column, const std::string& text) override;
    std::string GetItemText(int row, int column) override;
    bool DeleteItem(int row) override;
    bool DeleteAllItems() override;
    std::string GetColumnTitle(int column) override;
    int RemoveSilentRows() override;
    // Sets every cell of an existing row; false when there is no such row.
    bool SetRow(int row, const Row& cells);
    // Sets the whole record of an existing row; false when there is no such row.
    bool SetRecord(int row, const HostRecord& record);

    std::vector<Row> Rows();
    std::vector<HostRecord> Records();
    // Hands each row's record to `visit` in order, without copying them all
    // (the list's lock is held meanwhile: `visit` must not call back).
    void ForEachRecord(const std::function<void(const HostRecord&)>& visit);

private:
    std::mutex m_lock;
    // In blocks: a list that grows a row at a time never holds two copies of
    // itself, as a vector does each time it moves to a larger one.
    std::deque<PackedHost> m_rows;
};
