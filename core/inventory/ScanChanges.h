#pragma once
// What changed on the LAN between scans, as a pure function over the scans:
// the current one against what the earlier ones left. A stopped scan is kept
// but is never the baseline, and only addresses that both scans cover are
// compared.
//
//   新規     an identity never seen before
//   復帰     seen before, absent from the baseline (which covered its address)
//   消失     absent from the last N complete scans that covered its address
//   名前変更 computer name or workgroup differs from the last names learnt,
//            both known (a node-status time-out is no rename); or the names
//            mDNS, LLMNR or DNS give the host at an address differ from the
//            last ones that source gave there (one change per source, a
//            source silent now tells nothing)
//   MAC変更  the address now answers with another MAC
//   移動     a known MAC at another address than in the baseline, or any
//            identity last seen at another site ("site address" both)
//   重複     one MAC at two addresses in the same scan

#include "core/ranges/AddressRange.h"
#include "core/scan/HostRecord.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct Sighting {
    std::uint32_t address = 0; // host byte order
    std::string identity;      // HostIdentity key
    std::string mac;           // a usable MAC, else empty
    std::string computer;
    std::string domain;
    // The names of the other sources (mDNS, LLMNR, DNS), in order of
    // preference; the NetBIOS name is `computer`.
    std::vector<HostRecord::Name> names = {};
};

// A name a source other than node status gave a host at one address. These
// sources answer a reverse query, which names an address: a host at two
// addresses may well have another name at each.
struct LearntName {
    std::uint32_t address = 0;
    HostRecord::Name name;

    bool operator==(const LearntName&) const = default;
};

// What a host's sightings in one scan leave learnt of its other names: at
// each address they list, every source's names there now, or, for a source
// silent there, those it gave before; addresses the host is no longer seen
// at are forgotten. Sorted by address, then source.
std::vector<LearntName> NamesLearnt(const std::vector<LearntName>& before,
                                    const std::vector<const Sighting*>& now);

struct ScanView {
    std::int64_t id = 0;
    bool complete = true;
    std::vector<AddressRange> ranges;
    std::vector<Sighting> sightings; // the answering addresses

    bool Covers(std::uint32_t address) const;
    bool Overlaps(const ScanView& other) const;
};

// What the earlier scans knew of one identity.
struct KnownHost {
    std::int64_t firstScan = 0;
    std::int64_t lastScan = 0;     // the last scan that saw it
    std::uint32_t lastAddress = 0; // where that scan saw it
    std::string computer;          // the last names learnt; empty: never learnt
    std::string domain;
    std::vector<LearntName> names; // the other sources' (NamesLearnt)
};

// Where an identity was last seen when that was at another site, after its
// last sighting at this one (if any).
struct SeenElsewhere {
    std::string site;
    std::uint32_t address = 0;
    std::int64_t firstScan = 0; // the scan that first saw it, at any site
};

// Everything the changes of a scan are found from: each identity ever seen,
// the earlier scans' ranges (their sightings are not needed), and the
// baseline with its sightings. With several sites, all of it is the site's
// own but `elsewhere`.
struct PriorScans {
    // Keyed by views of the identities of the scans remembered, or of the
    // hosts the caller read, which outlive it.
    std::unordered_map<std::string_view, KnownHost> hosts;
    // The identities seen now that were last seen at another site, keyed
    // like `hosts`; with the name of this scan's site. A host that comes from
    // another site has moved (移動, with both sites) rather than appeared.
    std::unordered_map<std::string_view, SeenElsewhere> elsewhere;
    std::string site;
    std::vector<ScanView> scans; // oldest first; sightings may be left empty
    ScanView baseline;           // id 0: there is none

    // The last complete scan among `scans` that overlaps `current`, or null.
    const ScanView* FindBaseline(const ScanView& current) const;
    // Takes in a scan that came after all of `scans`.
    void Remember(const ScanView& scan);
};

// A sighting with neither a usable MAC nor a name (known by its address
// alone: its node-status answer was lost, say) is taken as the host last
// seen at that address, so that a lost answer tells no 新規 now and no 消失
// later; it keeps that host's names. Not when that host is seen at another
// address in this scan, nor where no host was ever seen: then the address
// stays its identity.
void AttributeAddressOnlySightings(ScanView& current, const PriorScans& prior);

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
    // Of a 名前変更, the source whose names changed: node status for the
    // computer name and workgroup ("name/workgroup" before and after), else
    // the names that source gave, joined by ", ".
    HostRecord::NameSource source = HostRecord::NameSource::Netbios;

    bool operator==(const Change&) const = default;
};

// How many hosts appeared (新規, 復帰), went (消失) and changed otherwise.
struct ChangeCounts {
    int appeared = 0;
    int gone = 0;
    int changed = 0;
};
ChangeCounts CountChanges(const std::vector<Change>& changes);

// The changes of `current`, sorted by address, then kind. A host is gone
// once it has been absent from `goneAfter` complete scans in a row.
std::vector<Change> FindChanges(const ScanView& current, const PriorScans& prior,
                                int goneAfter = 2);

// The same from the earlier scans themselves, oldest first.
std::vector<Change> FindChanges(const ScanView& current, const std::vector<ScanView>& earlier,
                                int goneAfter = 2);

// An identity as people read it: the MAC, "name/workgroup" or the address.
std::string IdentityText(const std::string& identity);
