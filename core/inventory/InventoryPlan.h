#pragma once
// Recording one scan, decided from values alone. A store reads what it holds
// of the hosts and scans the scan concerns, the plan says what to write, and
// the store writes it. The plan takes each row for a host (a row known by its
// address alone may be a host the store knows), lists a host's rows once per
// address (ranges that overlap list an address twice), chooses the row that
// names it, finds the hosts the baseline left as they are, finds the changes
// and says what becomes of each host. Only how a store keeps it differs.

#include "core/inventory/HostIdentity.h"
#include "core/inventory/HostRow.h"
#include "core/inventory/RecordedScan.h"
#include "core/inventory/ScanChanges.h"
#include "core/inventory/StoredHost.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

// What a store holds of the hosts and scans that recording one scan concerns.
struct InventoryHolding {
    // The hosts concerned, each once: at least those seen now, those the scan
    // may miss, and those a row known by its address alone may be. A store
    // that keeps each host's rows gives them; another leaves them empty.
    std::vector<StoredHost> hosts;
    // The earlier scans without their sightings, oldest first: at least
    // those after the last one that saw each of `hosts`.
    std::vector<ScanView> scans;
    // The baseline (id 0: none) with the sightings the store gives of it.
    ScanView baseline;
    // Where each host's rows are kept, the baseline's sightings of `hosts`
    // are made from them: which hosts it saw (one flag each; empty: none),
    // with their `rows`, or, where these changed since, with the rows it saw
    // (keyed by the host's index).
    std::vector<char> inBaseline;
    std::unordered_map<std::size_t, std::vector<HostRow>> rowsInBaseline;
    // The identities seen now whose last sighting was at another site.
    std::unordered_map<std::string, SeenElsewhere> elsewhere;
};

// One host as the scan found it, and what becomes of it.
struct PlannedHost {
    static constexpr std::size_t kNone = SIZE_MAX;

    std::size_t held = kNone; // its index among the holding's hosts; kNone: new
    std::size_t first = 0;    // its first row
    // The kind of identity of its first row, which may differ from that of
    // the host the row was taken for, and whether that row's MAC is randomised.
    HostIdentity::Kind kind = HostIdentity::Kind::Address;
    bool randomisedMac = false;
    std::size_t named = kNone;    // the last row that gave it a computer name
    std::size_t listed = 0;       // where its rows start in InventoryPlan::listed
    std::size_t count = 0;        // its rows, an address once
    std::uint32_t lastListed = 0; // the address its last row listed, repeats counted

    // As the baseline left it (the same one row, at an address where nobody
    // else answers now or answered then, the names it had): it brings no
    // change and changes nobody else's, so the changes are found without it.
    bool unchanged = false;
    // Of a host the store holds, where rows are kept:
    bool sameRows = false;      // its rows are those held
    bool clearDeparted = false; // told gone, seen again with the same rows
    bool renamed = false;       // named, with other names than those held
    // The names of the other sources it leaves learnt (NamesLearnt), and
    // whether they differ from those held (or, new, whether it has any).
    std::vector<LearntName> names;
    bool namesLearnt = false;
    // Of a host at more than one address: where its last row was is stored.
    bool setLastOfRows = false;
};

// A host a change is of: one the store holds, or one new to it.
struct PlannedChangeHost {
    bool held = false;
    std::size_t index = PlannedHost::kNone; // among the holding's hosts, or the plan's
};

struct InventoryPlan {
    // The scan's sightings, each row's as the host it was taken for. The scan
    // has no id yet: a change of a host first seen now says 0.
    ScanView scan;
    std::vector<PlannedHost> hosts; // in the order first seen
    // Each row's index among `hosts`; kNone for a row that lists an address
    // of its host again.
    std::vector<std::size_t> hostOfRow;
    // The rows of each host (PlannedHost::listed, count), in address order.
    std::vector<std::size_t> listed;
    std::vector<Change> changes;
    std::vector<PlannedChangeHost> changeHosts; // one per change
    std::vector<std::size_t> departures;        // the held hosts told gone
    std::int64_t answered = 0;                  // the rows listed

    std::span<const std::size_t> RowsOf(const PlannedHost& host) const;
    const std::string& IdentityOfHost(const PlannedHost& host) const;
    // The names its naming row gave it, or empty ones.
    const std::string& ComputerOf(const PlannedHost& host) const;
    const std::string& DomainOf(const PlannedHost& host) const;
};

// The scan's rows as sightings (SightingOf), by which a store reads the
// hosts concerned.
std::vector<Sighting> SightingsOf(const RecordedScan& scan);

// The plan of recording `scan`, whose rows' sightings are `sightings`.
InventoryPlan PlanRecording(const RecordedScan& scan, std::vector<Sighting> sightings,
                            const InventoryHolding& holding);
