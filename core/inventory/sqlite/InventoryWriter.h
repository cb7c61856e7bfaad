#pragma once
// Writes one scan into the inventory's tables, inside the write transaction
// the caller holds. First it reads what the store holds that the scan
// concerns, bounded by the scan: the hosts it saw, the hosts last seen within
// its ranges (those it may miss), the earlier scans' headers and the
// baseline's rows of these hosts. The plan (InventoryPlan) then says what to
// write: the scan and its ranges, which hosts it saw, a new version of a
// host's rows only where they differ from what the host had, new hosts, the
// names learnt, and the changes the scan brought.

#include "core/inventory/InventoryPlan.h"
#include "core/inventory/RecordedScan.h"
#include "core/inventory/sqlite/SqlStatement.h"

#include <cstdint>
#include <optional>
#include <sqlite3.h>
#include <vector>

class InventoryTables;

class InventoryWriter {
public:
    explicit InventoryWriter(sqlite3* db) : m_db(db) {}

    // Records `scan`: its new id in `id`, or SQLite's error.
    std::optional<SqlError> Write(const RecordedScan& scan, std::int64_t& id);

private:
    std::optional<SqlError> ReadHosts(InventoryTables& tables, const RecordedScan& scan,
                                      const std::vector<Sighting>& sightings,
                                      InventoryHolding& holding);
    std::optional<SqlError> ReadBaseline(InventoryTables& tables, InventoryHolding& holding);
    std::optional<SqlError> WriteScan(const RecordedScan& scan, std::int64_t& id);
    std::optional<SqlError> WriteHosts(InventoryTables& tables, const RecordedScan& scan,
                                       const InventoryHolding& holding, const InventoryPlan& plan,
                                       std::int64_t scanId, std::vector<std::int64_t>& ids);
    std::optional<SqlError> WriteChanges(InventoryTables& tables, const InventoryHolding& holding,
                                         const InventoryPlan& plan, std::int64_t scanId,
                                         const std::vector<std::int64_t>& ids);
    // SQLite's error, taken where it is met.
    SqlError Error() const { return SqlErrorOf(m_db); }

    sqlite3* m_db;
};
