#pragma once
// Writes one scan into the inventory's tables, inside the write transaction
// the caller holds: the scan and its ranges, which hosts it saw, a new
// version of a host's rows only where they differ from what the host had,
// new hosts, the names learnt, and the changes the scan brought, found
// against what the earlier scans left. What it reads is bounded by the scan:
// the hosts it saw, the hosts last seen within its ranges (those it may
// miss) and the baseline's rows of these.

#include "core/inventory/RecordedScan.h"

#include <cstdint>
#include <sqlite3.h>
#include <string>

class InventoryWriter {
public:
    explicit InventoryWriter(sqlite3* db) : m_db(db) {}

    // The new scan's id, or -1 with SQLite's message and error code.
    std::int64_t Write(const RecordedScan& scan, std::string& error, int& code);

private:
    sqlite3* m_db;
};
