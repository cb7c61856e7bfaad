#include "core/inventory/ScanChanges.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <tuple>
#include <unordered_set>

namespace {

// One scan's sightings by identity and by address, built once rather than
// searched for every row.
struct Index {
    explicit Index(const ScanView* scan) {
        if (!scan)
            return;
        byIdentity.reserve(scan->sightings.size());
        byAddress.reserve(scan->sightings.size());
        for (const Sighting& sighting : scan->sightings) {
            byIdentity.emplace(sighting.identity, &sighting);
            byAddress.emplace(sighting.address, &sighting);
        }
    }
    const Sighting* Find(std::string_view identity) const {
        const auto found = byIdentity.find(identity);
        return found == byIdentity.end() ? nullptr : found->second;
    }
    const Sighting* At(std::uint32_t address) const {
        const auto found = byAddress.find(address);
        return found == byAddress.end() ? nullptr : found->second;
    }
    // Keyed by views of the scan's own strings, which outlive the index.
    std::unordered_map<std::string_view, const Sighting*> byIdentity;
    std::unordered_map<std::uint32_t, const Sighting*> byAddress;
};

std::string Names(const std::string& computer, const std::string& domain) {
    return computer + "/" + domain;
}

using Source = HostRecord::NameSource;

// The sources beside node status, in order of preference.
constexpr Source kOtherSources[] = {Source::Mdns, Source::Llmnr, Source::Dns};

std::vector<std::string> TextsOf(const std::vector<HostRecord::Name>& names, Source source) {
    std::vector<std::string> texts;
    for (const HostRecord::Name& name : names)
        if (name.source == source)
            texts.push_back(name.text);
    return texts;
}

std::vector<std::string> TextsAt(const std::vector<LearntName>& names, std::uint32_t address,
                                 Source source) {
    std::vector<std::string> texts;
    for (const LearntName& learnt : names)
        if (learnt.address == address && learnt.name.source == source)
            texts.push_back(learnt.name.text);
    return texts;
}

// Whether two lists of a source's names name the same: a resolver may give
// several in any order, and DNS names do not differ by case.
bool SameNames(std::vector<std::string> a, std::vector<std::string> b) {
    for (std::vector<std::string>* names : {&a, &b}) {
        for (std::string& name : *names)
            for (char& c : name)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
        std::sort(names->begin(), names->end());
        names->erase(std::unique(names->begin(), names->end()), names->end());
    }
    return a == b;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

bool HasOtherNames(const KnownHost& known, const Sighting& sighting) {
    return !known.names.empty() || !sighting.names.empty();
}

} // namespace

std::vector<LearntName> NamesLearnt(const std::vector<LearntName>& before,
                                    const std::vector<const Sighting*>& now) {
    if (now.empty())
        return before;
    std::vector<std::uint32_t> addresses;
    for (const Sighting* sighting : now)
        addresses.push_back(sighting->address);
    std::sort(addresses.begin(), addresses.end());
    addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
    std::vector<LearntName> learnt;
    for (const std::uint32_t address : addresses)
        for (const Source source : kOtherSources) {
            // The last sighting at the address that this source answered for.
            const Sighting* answered = nullptr;
            for (const Sighting* sighting : now)
                if (sighting->address == address &&
                    std::any_of(sighting->names.begin(), sighting->names.end(),
                                [source](const HostRecord::Name& n) { return n.source == source; }))
                    answered = sighting;
            if (answered) {
                for (const HostRecord::Name& name : answered->names)
                    if (name.source == source)
                        learnt.push_back({address, name});
            } else {
                for (const LearntName& was : before)
                    if (was.address == address && was.name.source == source)
                        learnt.push_back(was);
            }
        }
    return learnt;
}

bool ScanView::Covers(std::uint32_t address) const {
    return std::any_of(ranges.begin(), ranges.end(), [address](const AddressRange& range) {
        return range.start <= address && address <= range.end;
    });
}

bool ScanView::Overlaps(const ScanView& other) const {
    for (const AddressRange& x : ranges)
        for (const AddressRange& y : other.ranges)
            if (x.start <= y.end && y.start <= x.end)
                return true;
    return false;
}

const ScanView* PriorScans::FindBaseline(const ScanView& current) const {
    for (auto scan = scans.rbegin(); scan != scans.rend(); ++scan)
        if (scan->complete && scan->Overlaps(current))
            return &*scan;
    return nullptr;
}

void PriorScans::Remember(const ScanView& scan) {
    // The sightings of each host with other names, known or now.
    std::unordered_map<std::string_view, std::vector<const Sighting*>> named;
    for (const Sighting& sighting : scan.sightings) {
        auto [known, inserted] = hosts.try_emplace(sighting.identity);
        if (inserted)
            known->second.firstScan = scan.id;
        known->second.lastScan = scan.id;
        known->second.lastAddress = sighting.address;
        if (!sighting.computer.empty()) {
            known->second.computer = sighting.computer;
            known->second.domain = sighting.domain;
        }
        if (HasOtherNames(known->second, sighting) || named.count(known->first))
            named[known->first].push_back(&sighting);
    }
    for (const auto& [identity, sightings] : named) {
        KnownHost& known = hosts.find(identity)->second;
        known.names = NamesLearnt(known.names, sightings);
    }
    ScanView header = scan;
    header.sightings.clear();
    scans.push_back(std::move(header));
}

namespace {

bool IsAddressIdentity(std::string_view identity) {
    return identity.rfind("ip:", 0) == 0;
}

} // namespace

void AttributeAddressOnlySightings(ScanView& current, const PriorScans& prior) {
    if (std::none_of(current.sightings.begin(), current.sightings.end(),
                     [](const Sighting& s) { return IsAddressIdentity(s.identity); }))
        return;
    // The host last seen at each address; of two seen there by the same scan
    // (ranges that overlap) one with a MAC or a name, then the first key.
    using Host = std::pair<const std::string_view, KnownHost>;
    std::unordered_map<std::uint32_t, const Host*> lastAt;
    for (const Host& host : prior.hosts) {
        auto [at, inserted] = lastAt.try_emplace(host.second.lastAddress, &host);
        if (inserted)
            continue;
        const Host& other = *at->second;
        const auto rank = [](const Host& h) {
            return std::make_tuple(-h.second.lastScan, IsAddressIdentity(h.first), h.first);
        };
        if (rank(host) < rank(other))
            at->second = &host;
    }
    std::unordered_multimap<std::string_view, std::uint32_t> seenNow;
    for (const Sighting& sighting : current.sightings)
        if (!IsAddressIdentity(sighting.identity))
            seenNow.emplace(sighting.identity, sighting.address);
    for (Sighting& sighting : current.sightings) {
        if (!IsAddressIdentity(sighting.identity))
            continue;
        const auto last = lastAt.find(sighting.address);
        if (last == lastAt.end())
            continue;
        const std::string_view host = last->second->first;
        const auto [first, end] = seenNow.equal_range(host);
        // Answering elsewhere with its own MAC or name, it is not this row.
        if (std::any_of(first, end, [&](const auto& at) { return at.second != sighting.address; }))
            continue;
        sighting.identity = std::string(host);
    }
}

const char* ChangeKindText(ChangeKind kind) {
    switch (kind) {
    case ChangeKind::New:
        return "新規";
    case ChangeKind::Returned:
        return "復帰";
    case ChangeKind::Gone:
        return "消失";
    case ChangeKind::Renamed:
        return "名前変更";
    case ChangeKind::MacChanged:
        return "MAC変更";
    case ChangeKind::Moved:
        return "移動";
    case ChangeKind::Duplicate:
        return "重複";
    }
    return "";
}

ChangeCounts CountChanges(const std::vector<Change>& changes) {
    ChangeCounts counts;
    std::set<std::pair<std::uint32_t, std::string>> changed;
    for (const Change& change : changes) {
        if (change.kind == ChangeKind::New || change.kind == ChangeKind::Returned)
            ++counts.appeared;
        else if (change.kind == ChangeKind::Gone)
            ++counts.gone;
        else
            changed.emplace(change.address, change.identity);
    }
    // A host that appeared is not counted again as changed.
    for (const Change& change : changes)
        if (change.kind == ChangeKind::New || change.kind == ChangeKind::Returned)
            changed.erase({change.address, change.identity});
    counts.changed = static_cast<int>(changed.size());
    return counts;
}

std::vector<Change> FindChanges(const ScanView& current, const PriorScans& prior,
                                int goneAfter) {
    const ScanView* baseline = prior.baseline.id != 0 ? &prior.baseline : nullptr;
    const Index now(&current);
    const Index before(baseline);
    std::vector<Change> changes;
    auto add = [&](ChangeKind kind, std::uint32_t address, std::string_view identity,
                   std::string was, std::string is) {
        const auto known = prior.hosts.find(identity);
        changes.push_back({kind, address, std::string(identity), std::move(was), std::move(is),
                           known == prior.hosts.end() ? current.id : known->second.firstScan});
    };

    std::unordered_map<std::string_view, const Sighting*> firstAtMac;
    firstAtMac.reserve(current.sightings.size());
    for (const Sighting& sighting : current.sightings) {
        const auto known = prior.hosts.find(sighting.identity);
        const bool compared = baseline && baseline->Covers(sighting.address);
        const auto away = prior.elsewhere.find(sighting.identity);
        if (away != prior.elsewhere.end()) {
            changes.push_back({ChangeKind::Moved, sighting.address, sighting.identity,
                               away->second.site + " " + AddressToText(away->second.address),
                               prior.site + " " + AddressToText(sighting.address),
                               known == prior.hosts.end() ? away->second.firstScan
                                                          : known->second.firstScan});
        } else if (known == prior.hosts.end())
            add(ChangeKind::New, sighting.address, sighting.identity, "", "");
        else if (compared && !before.Find(sighting.identity))
            add(ChangeKind::Returned, sighting.address, sighting.identity, "", "");
        if (known != prior.hosts.end() && !known->second.computer.empty() &&
            !sighting.computer.empty()) {
            const std::string was = Names(known->second.computer, known->second.domain);
            const std::string is = Names(sighting.computer, sighting.domain);
            if (was != is)
                add(ChangeKind::Renamed, sighting.address, sighting.identity, was, is);
        }
        // The other sources, each against what it gave at this address.
        if (known != prior.hosts.end() && !known->second.names.empty() && !sighting.names.empty())
            for (const Source source : kOtherSources) {
                const std::vector<std::string> is = TextsOf(sighting.names, source);
                const std::vector<std::string> was =
                    is.empty() ? is : TextsAt(known->second.names, sighting.address, source);
                if (was.empty() || SameNames(was, is))
                    continue;
                add(ChangeKind::Renamed, sighting.address, sighting.identity, Joined(was),
                    Joined(is));
                changes.back().source = source;
            }
        if (compared && !sighting.mac.empty()) {
            const Sighting* there = before.At(sighting.address);
            if (there && !there->mac.empty() && there->mac != sighting.mac)
                add(ChangeKind::MacChanged, sighting.address, sighting.identity, there->mac,
                    sighting.mac);
            // Still at its old address too, it has not moved: that is a duplicate.
            const Sighting* was = before.Find(sighting.identity);
            const Sighting* stayed = was ? now.At(was->address) : nullptr;
            if (was && was->address != sighting.address && away == prior.elsewhere.end() &&
                !(stayed && stayed->identity == sighting.identity))
                add(ChangeKind::Moved, sighting.address, sighting.identity,
                    AddressToText(was->address), AddressToText(sighting.address));
        }
        if (!sighting.mac.empty()) {
            const auto [first, inserted] = firstAtMac.emplace(sighting.mac, &sighting);
            // Ranges that overlap list an address twice: that is no duplicate.
            if (!inserted && first->second->address != sighting.address)
                add(ChangeKind::Duplicate, sighting.address, sighting.identity,
                    AddressToText(first->second->address), AddressToText(sighting.address));
        }
    }

    // Gone: absent from exactly `goneAfter` complete scans in a row that
    // covered its last address, the current one among them.
    if (current.complete) {
        for (const auto& [identity, known] : prior.hosts) {
            if (now.Find(identity) || !current.Covers(known.lastAddress))
                continue;
            int absent = 1;
            for (auto scan = prior.scans.rbegin();
                 scan != prior.scans.rend() && scan->id > known.lastScan && absent <= goneAfter;
                 ++scan)
                if (scan->complete && scan->Covers(known.lastAddress))
                    ++absent;
            if (absent == goneAfter)
                add(ChangeKind::Gone, known.lastAddress, identity,
                    known.computer.empty() ? "" : Names(known.computer, known.domain), "");
        }
    }
    std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
        if (a.address != b.address)
            return a.address < b.address;
        if (a.kind != b.kind)
            return a.kind < b.kind;
        return a.identity < b.identity;
    });
    return changes;
}

std::vector<Change> FindChanges(const ScanView& current, const std::vector<ScanView>& earlier,
                                int goneAfter) {
    PriorScans prior;
    for (const ScanView& scan : earlier)
        prior.Remember(scan);
    // `prior.scans` holds the earlier scans' headers in the same order.
    if (const ScanView* baseline = prior.FindBaseline(current))
        prior.baseline = earlier[static_cast<std::size_t>(baseline - prior.scans.data())];
    return FindChanges(current, prior, goneAfter);
}

std::string IdentityText(const std::string& identity) {
    const auto colon = identity.find(':');
    return colon == std::string::npos ? identity : identity.substr(colon + 1);
}
