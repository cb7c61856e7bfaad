#pragma once
// What changed on the LAN between scans, as a pure function over the scans:
// the current one against the earlier ones. A stopped scan is kept but is
// never the baseline, and only addresses that both scans cover are compared.
//
//   新規     an identity never seen before
//   復帰     seen before, absent from the baseline (which covered its address)
//   消失     absent from the last N complete scans that covered its address
//   名前変更 computer name or workgroup differs, both known
//   MAC変更  the address now answers with another MAC
//   移動     a known MAC at another address than in the baseline
//   重複     one MAC at two addresses in the same scan

#include "core/ranges/AddressRange.h"

#include <cstdint>
#include <string>
#include <vector>

struct Sighting {
    std::uint32_t address = 0; // host byte order
    std::string identity;      // HostIdentity key
    std::string mac;           // a usable MAC, else empty
    std::string computer;
    std::string domain;
};

struct ScanView {
    std::int64_t id = 0;
    bool complete = true;
    std::vector<AddressRange> ranges;
    std::vector<Sighting> sightings; // the answering addresses

    bool Covers(std::uint32_t address) const;
};

enum class ChangeKind { New, Returned, Gone, Renamed, MacChanged, Moved, Duplicate };

// The kind's Japanese name, as the window and vopal-scan show it.
const char* ChangeKindText(ChangeKind kind);

struct Change {
    ChangeKind kind = ChangeKind::New;
    std::uint32_t address = 0;
    std::string identity;
    std::string before;
    std::string after;
    std::int64_t firstSeen = 0; // the scan that first saw the identity

    bool operator==(const Change&) const = default;
};

// `earlier` holds the scans before `current`, oldest first. A host is gone
// once it has been absent from `goneAfter` complete scans in a row.
std::vector<Change> FindChanges(const ScanView& current, const std::vector<ScanView>& earlier,
                                int goneAfter = 2);
