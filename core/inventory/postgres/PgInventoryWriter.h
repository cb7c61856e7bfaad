#pragma once
// Writes one scan into the inventory on a PostgreSQL server, inside the
// transaction the caller holds: the scan, its ranges and sightings (COPY),
// the hosts (one per identity, made with INSERT ... ON CONFLICT, so that two
// sites seeing a new host at once make it once), what the site knows of each
// host, and the changes, found against the earlier scans of the same site.
// A host last seen at another site has moved here. The site's row is locked
// for the transaction: scans of one site are written one after the other,
// those of different sites side by side.

#include "core/inventory/RecordedScan.h"
#include "platform/postgres/PgConnection.h"

#include <cstdint>
#include <optional>

class PgInventoryWriter {
public:
    explicit PgInventoryWriter(PgConnection& connection) : m_db(connection) {}

    // The scan's id, or the error that rolls the transaction back. A scan
    // the site recorded before (its site scan id) is not written again.
    std::optional<PgError> Write(const RecordedScan& scan, std::int64_t& id);

private:
    PgConnection& m_db;
};
