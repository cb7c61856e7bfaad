#include "core/inventory/postgres/PgInventorySchema.h"

#include <span>
#include <utility>

namespace {

// Any number the same for every copy of the program: the lock that lets one
// scanner at a time make the tables.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7204871203)";

// Sites, hosts (one per identity, wherever seen), scans with their ranges,
// each scan's sightings, what each site knows of each host, and the changes
// each scan brought. Addresses are numbers (host byte order), times Unix
// milliseconds, as in the site's own store.
const char* const kVersion1[] = {
    R"sql(CREATE TABLE sites (
    id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    name text NOT NULL UNIQUE
))sql",
    R"sql(CREATE TABLE hosts (
    id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    identity text NOT NULL UNIQUE,
    kind smallint NOT NULL,
    randomised_mac boolean NOT NULL,
    first_scan bigint NOT NULL,
    computer text NOT NULL DEFAULT '',
    domain text NOT NULL DEFAULT '',
    last_scan bigint NOT NULL,
    last_site bigint NOT NULL,
    last_address bigint NOT NULL
))sql",
    R"sql(CREATE TABLE scans (
    id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    site bigint NOT NULL REFERENCES sites(id),
    site_scan text NOT NULL,
    started_ms bigint NOT NULL,
    ended_ms bigint NOT NULL,
    complete boolean NOT NULL,
    settings text NOT NULL,
    answered bigint NOT NULL DEFAULT 0,
    recorded timestamptz NOT NULL DEFAULT now(),
    UNIQUE (site, site_scan)
))sql",
    "CREATE INDEX scans_by_site ON scans (site, id)",
    R"sql(CREATE TABLE scan_ranges (
    scan bigint NOT NULL REFERENCES scans(id),
    position integer NOT NULL,
    first bigint NOT NULL,
    last bigint NOT NULL,
    PRIMARY KEY (scan, position)
))sql",
    R"sql(CREATE TABLE sightings (
    scan bigint NOT NULL REFERENCES scans(id),
    host bigint NOT NULL REFERENCES hosts(id),
    address bigint NOT NULL,
    response text NOT NULL,
    computer text NOT NULL,
    domain text NOT NULL,
    mac text NOT NULL,
    vendor text NOT NULL,
    messenger text NOT NULL,
    PRIMARY KEY (scan, address, host)
))sql",
    "CREATE INDEX sightings_by_host ON sightings (host, scan)",
    "CREATE INDEX sightings_by_address ON sightings (address, scan)",
    R"sql(CREATE TABLE site_hosts (
    site bigint NOT NULL REFERENCES sites(id),
    host bigint NOT NULL REFERENCES hosts(id),
    first_scan bigint NOT NULL,
    last_scan bigint NOT NULL,
    last_address bigint NOT NULL,
    departed boolean NOT NULL DEFAULT false,
    PRIMARY KEY (site, host)
))sql",
    "CREATE INDEX site_hosts_staying ON site_hosts (site, last_address) WHERE NOT departed",
    R"sql(CREATE TABLE changes (
    scan bigint NOT NULL REFERENCES scans(id),
    position integer NOT NULL,
    kind smallint NOT NULL,
    address bigint NOT NULL,
    host bigint NOT NULL REFERENCES hosts(id),
    before text NOT NULL,
    after text NOT NULL,
    PRIMARY KEY (scan, position)
))sql",
    "CREATE INDEX changes_by_host ON changes (host, scan)",
    "INSERT INTO kd_inventory_version VALUES (1)",
};

// The second: the names other sources than node status gave (StoredNames),
// those of each sighting and those each host leaves learnt, and which source
// a rename is of. Earlier rows keep the defaults, which say none and node
// status.
const char* const kVersion2[] = {
    "ALTER TABLE hosts ADD COLUMN names text NOT NULL DEFAULT ''",
    "ALTER TABLE sightings ADD COLUMN names text NOT NULL DEFAULT ''",
    "ALTER TABLE changes ADD COLUMN source smallint NOT NULL DEFAULT 0",
    "INSERT INTO kd_inventory_version VALUES (2)",
};

// The version the database holds: 0 for none, -1 when it cannot be read.
int VersionOf(PgConnection& connection, std::string& error) {
    PgResult exists = connection.Exec("SELECT to_regclass('kd_inventory_version') IS NOT NULL");
    if (!exists.Ok()) {
        error = exists.Error().message;
        return -1;
    }
    if (exists.Text(0, 0) != "t")
        return 0;
    PgResult version = connection.Exec("SELECT max(version) FROM kd_inventory_version");
    if (!version.Ok()) {
        error = version.Error().message;
        return -1;
    }
    return static_cast<int>(version.Int64(0, 0).value_or(0));
}

} // namespace

bool EnsurePgInventorySchema(PgConnection& connection, std::string& error) {
    // Names and marks are Japanese: a database in another character set
    // would refuse most scans.
    PgResult encoding = connection.Exec("SELECT pg_encoding_to_char(encoding) FROM pg_database "
                                        "WHERE datname = current_database()");
    if (!encoding.Ok()) {
        error = encoding.Error().message;
        return false;
    }
    const std::string charset = encoding.Text(0, 0);
    if (charset != "UTF8" && charset != "SQL_ASCII") {
        error = "the database's encoding is " + charset +
                "; the inventory needs a database made with ENCODING 'UTF8'";
        return false;
    }
    const int found = VersionOf(connection, error);
    if (found < 0)
        return false;
    if (found == kPgInventoryVersion)
        return true;
    if (found > kPgInventoryVersion) {
        error = "the database holds an inventory of a newer version (" + std::to_string(found) +
                ") than this program knows (" + std::to_string(kPgInventoryVersion) + ")";
        return false;
    }
    const std::optional<PgError> failed = connection.Transaction(
        [&](PgConnection& c) -> std::optional<PgError> {
            for (const char* sql : {kSchemaLock, "CREATE TABLE IF NOT EXISTS kd_inventory_version "
                                                 "(version integer NOT NULL)"}) {
                PgResult result = c.Exec(sql);
                if (!result.Ok())
                    return result.Error();
            }
            // Another scanner may have made them while this one waited.
            PgResult version = c.Exec("SELECT coalesce(max(version), 0) FROM kd_inventory_version");
            if (!version.Ok())
                return version.Error();
            const std::int64_t held = version.Int64(0, 0).value_or(0);
            for (const auto& [made, statements] :
                 {std::pair{std::int64_t{1}, std::span<const char* const>(kVersion1)},
                  std::pair{std::int64_t{2}, std::span<const char* const>(kVersion2)}}) {
                if (held >= made)
                    continue;
                for (const char* sql : statements) {
                    PgResult result = c.Exec(sql);
                    if (!result.Ok())
                        return result.Error();
                }
            }
            return std::nullopt;
        },
        3, PgIsolation::ReadCommitted);
    if (failed) {
        // Only the tables' owner may change them: a site's role meets a
        // database that a new version of the program has not been run on
        // by the owner yet.
        error = found == 0 ? "cannot make the inventory's tables: " + failed->message
                           : "cannot bring the inventory's tables forward from version " +
                                 std::to_string(found) + " (run vopal-scan once as the owner " +
                                 "of the database): " + failed->message;
        return false;
    }
    return VersionOf(connection, error) == kPgInventoryVersion ||
           (error.empty() && (error = "the inventory's tables were not made", false));
}
