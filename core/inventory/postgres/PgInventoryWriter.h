#pragma once
// Writes one scan into the inventory on a PostgreSQL server, inside the
// transaction the caller holds. It locks the site's row for the transaction
// (scans of one site are written one after the other, those of different
// sites side by side), reads what the site knows that the scan concerns,
// and writes what the plan (InventoryPlan) says: the scan, its ranges and
// sightings (COPY), the hosts (one per identity, made with INSERT ... ON
// CONFLICT, so that two sites seeing a new host at once make it once), what
// the site knows of each host, and the changes, found against the earlier
// scans of the same site. A host last seen at another site has moved here.

#include "core/inventory/InventoryPlan.h"
#include "core/inventory/RecordedScan.h"
#include "platform/postgres/PgConnection.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class PgInventoryWriter {
public:
    explicit PgInventoryWriter(PgConnection& connection) : m_db(connection) {}

    // Records `scan`: its id in `id`, or the error that rolls the transaction
    // back. A scan the site recorded before (its site scan id) is not written
    // again: `id` is the one it has.
    std::optional<PgError> Write(const RecordedScan& scan, std::int64_t& id);

private:
    // What the reads select by, as arrays: the identities seen now, the
    // addresses of the rows known by their address alone, and the ranges'
    // first and last addresses.
    struct Keys {
        std::string identities, addressOnly, firsts, lasts;
    };

    // Of the scan's rows before any is taken for a known host.
    static Keys KeysOf(const RecordedScan& scan, const std::vector<Sighting>& sightings);
    std::optional<PgError> ReadHosts(const std::string& site, const Keys& keys,
                                     InventoryHolding& holding);
    std::optional<PgError> ReadScans(const std::string& site, const Keys& keys,
                                     InventoryHolding& holding);
    std::optional<PgError> ReadElsewhere(const std::string& site, const Keys& keys,
                                         InventoryHolding& holding);
    std::optional<PgError> WriteScan(const std::string& site, const RecordedScan& scan,
                                     const Keys& keys, std::int64_t& id);
    std::optional<PgError> WriteHosts(const std::string& site, const std::string& scanId,
                                      const RecordedScan& scan, const InventoryPlan& plan,
                                      std::vector<std::int64_t>& ids);
    std::optional<PgError> WriteChanges(const std::string& site, const std::string& scanId,
                                        const InventoryHolding& holding, const InventoryPlan& plan,
                                        const std::vector<std::int64_t>& ids);

    PgConnection& m_db;
};
