#pragma once
// A host as the inventory holds it between scans, and the sightings a scan's
// rows make of it: what both stores read, compare and write.

#include "core/inventory/HostRow.h"
#include "core/inventory/ScanChanges.h"
#include "core/scan/HostRecord.h"

#include <cstdint>
#include <string>
#include <vector>

struct StoredHost {
    std::int64_t id = 0;
    std::string identity;
    KnownHost known; // lastScan and lastAddress as LoadLastScans finds them
    std::int64_t since = 0;
    std::vector<HostRow> rows;
    bool departed = false; // told gone, and not seen since
    // Of a host at more than one address, the one its last sighting listed
    // last, which is where the changes take it to be.
    std::uint32_t lastOfRows = 0;
};

// Where the changes take a host to be: its one row's address, or the one its
// last sighting listed last.
std::uint32_t LastAddressOf(const StoredHost& host);

// A row's part in the changes: its MAC only when it is a usable one.
Sighting SightingOf(std::uint32_t address, std::string identity, const std::string& mac,
                    std::string computer, std::string domain,
                    std::vector<HostRecord::Name> names = {});
Sighting SightingOf(const HostRow& row, const std::string& identity);
// A scanned row's part: its identity (HostIdentity), and its MAC exactly when
// that is its identity.
Sighting SightingOf(const HostRecord& row);
