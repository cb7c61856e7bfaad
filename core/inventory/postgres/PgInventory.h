#pragma once
// The memory of scans on a PostgreSQL server that many sites share. Every
// site's scans go into one database; a scan's changes are found against its
// own site's earlier scans, and a host is one host wherever it is seen. Each
// scan is written in one transaction, run again on a serialization failure
// or a deadlock; a scan delivered twice (the same site and site scan id) is
// written once.

#include "core/inventory/InventoryMemory.h"
#include "platform/postgres/PgConnection.h"

#include <memory>
#include <string>

class PgInventory : public InventoryMemory {
public:
    // Connects to the server the address names and makes or checks the
    // inventory's tables; null with the reason (plain text, without the
    // password) in `error`.
    static std::unique_ptr<PgInventory> Open(const std::string& uri, std::string& error);

    std::int64_t Record(const RecordedScan& scan, std::string& error) override;
    std::optional<StoredScan> LatestScan(const std::string& site = {}) const override;
    std::optional<StoredScan> ScanOf(std::int64_t id) const override;
    bool HasScanBefore(std::int64_t id) const override;
    std::vector<ReportedChange> ChangesOf(std::int64_t scan) const override;
    HostHistory History(const std::string& addressOrMac,
                        const std::string& site = {}) const override;
    const std::string& ReadError() const override { return m_readError; }

    // Whether the connection still stands, as far as is known.
    bool Connected() const { return m_db->Connected(); }

private:
    explicit PgInventory(std::unique_ptr<PgConnection> db) : m_db(std::move(db)) {}
    // Runs a read, noting its error; false when it failed.
    bool Read(const PgResult& result) const;

    std::unique_ptr<PgConnection> m_db;
    mutable std::string m_readError;
};

// A server address as the site's own store keeps it for the scans that wait
// for that server: without a password, wherever it was written.
std::string PgServerKey(const std::string& uri);
