#pragma once
// The memory of past scans as vopal-scan and the reports use it, whichever
// store holds it: a file of the site's own (InventoryStore) or a server that
// many sites share (PgInventory). Every scan is made at a site; the changes
// of a scan are found against the earlier scans of its site, while a host is
// one host wherever it is seen.

#include "core/inventory/RecordedScan.h"
#include "core/inventory/ScanChanges.h"
#include "core/ranges/AddressRange.h"
#include "core/scan/HostCells.h"
#include "core/scan/HostRecord.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct StoredScan {
    std::int64_t id = 0;
    std::int64_t startedMs = 0;
    std::int64_t endedMs = 0;
    bool complete = true;
    std::int64_t answered = 0; // rows recorded
    std::vector<AddressRange> ranges; // filled by ScanOf only
    std::string site;                 // where it was made; empty: not told
};

struct ReportedChange {
    Change change;
    std::int64_t firstSeenMs = 0; // when the scan that first saw the host started
};

// One scan in a host's timeline: where it answered and as what, or (seen
// false) a scan in which it was told gone; with that scan's changes of it.
struct HistoryEntry {
    std::int64_t scan = 0;
    std::int64_t startedMs = 0;
    bool seen = true;
    std::string site; // of the scan; empty: not told
    HostCells row; // as the store keeps it
    // The names other sources than node status gave it then, in order of
    // preference (the NetBIOS name is the row's コンピュータ名).
    std::vector<HostRecord::Name> names;
    std::vector<Change> changes;
};

struct HostHistory {
    std::string identity; // empty: the store knows no such host
    bool randomisedMac = false;
    std::vector<HistoryEntry> entries; // oldest first
};

// Adds one of a scan's changes of the host to its timeline: to the entry of
// that scan's sighting at the change's address, or, for a departure, to an
// entry of its own (seen false) placed among the others by scan.
void AddToTimeline(HostHistory& history, std::int64_t scan, std::int64_t startedMs,
                   const std::string& site, Change change);

class InventoryMemory {
public:
    virtual ~InventoryMemory() = default;

    // Writes one scan with its rows and its changes, all or nothing; its id,
    // or -1 with the reason in `error`. A scan the memory already holds (the
    // same site and site scan id) is not written again: its id is returned.
    virtual std::int64_t Record(const RecordedScan& scan, std::string& error) = 0;

    // The newest scan, of any site when `site` is empty.
    virtual std::optional<StoredScan> LatestScan(const std::string& site = {}) const = 0;
    // One scan with its ranges, if the memory has it.
    virtual std::optional<StoredScan> ScanOf(std::int64_t id) const = 0;
    // Whether the scan's site has a scan recorded before it: the first is
    // the baseline, which tells nothing new.
    virtual bool HasScanBefore(std::int64_t id) const = 0;
    // The changes a scan brought, sorted by address.
    virtual std::vector<ReportedChange> ChangesOf(std::int64_t scan) const = 0;
    // The timeline of the host with this MAC (any notation), or of the host
    // last seen at this address (at `site`, when given); only its sightings
    // at `site` when one is given.
    virtual HostHistory History(const std::string& addressOrMac,
                                const std::string& site = {}) const = 0;

    // Why the last read could not read everything; empty when it could.
    virtual const std::string& ReadError() const = 0;
};
