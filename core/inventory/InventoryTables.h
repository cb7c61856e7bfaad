#pragma once
// Reading and writing the inventory's tables, as recording a scan and
// bringing an older file forward both do: the scans with their ranges, a
// scan's sightings, the hosts with what the earlier scans knew of them, the
// changes of a scan.

#include "core/inventory/ScanChanges.h"

#include <cstdint>
#include <sqlite3.h>
#include <string>
#include <unordered_map>
#include <vector>

// A row's part in the changes: its MAC only when it is a usable one.
Sighting SightingOf(std::uint32_t address, std::string identity, const std::string& mac,
                    std::string computer, std::string domain);

// The scans before `before` (all when 0), oldest first, with their ranges
// and without their sightings.
bool LoadScanHeaders(sqlite3* db, std::int64_t before, std::vector<ScanView>& scans);

// The sightings of `scan` (by its id), in address order.
bool LoadSightings(sqlite3* db, ScanView& scan);

// Every host the store knows into `prior`, and its row id into `ids`.
bool LoadHosts(sqlite3* db, PriorScans& prior, std::unordered_map<std::string, std::int64_t>& ids);

bool InsertChanges(sqlite3* db, std::int64_t scan, const std::vector<Change>& changes,
                   const std::unordered_map<std::string, std::int64_t>& ids);

// Writes each of `identities`' last sighting and names as `prior` holds them.
bool UpdateHosts(sqlite3* db, const PriorScans& prior,
                 const std::unordered_map<std::string, std::int64_t>& ids,
                 const std::vector<std::string>& identities);
