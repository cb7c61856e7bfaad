#include "core/inventory/ScanChanges.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>

namespace {

// One scan's sightings by identity and by address, built once rather than
// searched for every row.
struct Index {
    explicit Index(const ScanView* scan) {
        if (!scan)
            return;
        for (const Sighting& sighting : scan->sightings) {
            byIdentity.emplace(sighting.identity, &sighting);
            byAddress.emplace(sighting.address, &sighting);
        }
    }
    const Sighting* Find(const std::string& identity) const {
        const auto found = byIdentity.find(identity);
        return found == byIdentity.end() ? nullptr : found->second;
    }
    const Sighting* At(std::uint32_t address) const {
        const auto found = byAddress.find(address);
        return found == byAddress.end() ? nullptr : found->second;
    }
    std::unordered_map<std::string, const Sighting*> byIdentity;
    std::unordered_map<std::uint32_t, const Sighting*> byAddress;
};

bool Overlaps(const ScanView& a, const ScanView& b) {
    for (const AddressRange& x : a.ranges)
        for (const AddressRange& y : b.ranges)
            if (x.start <= y.end && y.start <= x.end)
                return true;
    return false;
}

std::string Names(const Sighting& sighting) {
    return sighting.computer + "/" + sighting.domain;
}

} // namespace

bool ScanView::Covers(std::uint32_t address) const {
    return std::any_of(ranges.begin(), ranges.end(), [address](const AddressRange& range) {
        return range.start <= address && address <= range.end;
    });
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

std::vector<Change> FindChanges(const ScanView& current, const std::vector<ScanView>& earlier,
                                int goneAfter) {
    // What the earlier scans knew of each identity: where it was first seen,
    // and its last sighting.
    std::map<std::string, std::int64_t> firstSeen;
    std::map<std::string, const Sighting*> last;
    for (const ScanView& scan : earlier)
        for (const Sighting& sighting : scan.sightings) {
            firstSeen.emplace(sighting.identity, scan.id);
            last[sighting.identity] = &sighting;
        }
    const ScanView* baseline = nullptr;
    for (auto scan = earlier.rbegin(); scan != earlier.rend() && !baseline; ++scan)
        if (scan->complete && Overlaps(*scan, current))
            baseline = &*scan;

    const Index now(&current);
    const Index before(baseline);
    std::vector<Change> changes;
    auto add = [&](ChangeKind kind, const Sighting& sighting, std::string before,
                   std::string after) {
        const auto first = firstSeen.find(sighting.identity);
        changes.push_back({kind, sighting.address, sighting.identity, std::move(before),
                           std::move(after),
                           first == firstSeen.end() ? current.id : first->second});
    };

    std::map<std::string, const Sighting*> firstAtMac;
    for (const Sighting& sighting : current.sightings) {
        if (!firstSeen.count(sighting.identity)) {
            add(ChangeKind::New, sighting, "", "");
        } else if (baseline && baseline->Covers(sighting.address) &&
                   !before.Find(sighting.identity)) {
            add(ChangeKind::Returned, sighting, "", "");
        }
        // A name is compared only when both scans learnt it: a node-status
        // time-out is no rename.
        if (const auto known = last.find(sighting.identity); known != last.end()) {
            const Sighting& previous = *known->second;
            if (!previous.computer.empty() && !sighting.computer.empty() &&
                Names(previous) != Names(sighting))
                add(ChangeKind::Renamed, sighting, Names(previous), Names(sighting));
        }
        if (baseline && baseline->Covers(sighting.address) && !sighting.mac.empty()) {
            const Sighting* there = before.At(sighting.address);
            if (there && !there->mac.empty() && there->mac != sighting.mac)
                add(ChangeKind::MacChanged, sighting, there->mac, sighting.mac);
            // Still at its old address too, it has not moved: that is a duplicate.
            const Sighting* was = before.Find(sighting.identity);
            const Sighting* stayed = was ? now.At(was->address) : nullptr;
            if (was && was->address != sighting.address &&
                !(stayed && stayed->identity == sighting.identity))
                add(ChangeKind::Moved, sighting, AddressToText(was->address),
                    AddressToText(sighting.address));
        }
        if (!sighting.mac.empty()) {
            const auto [first, inserted] = firstAtMac.emplace(sighting.mac, &sighting);
            if (!inserted)
                add(ChangeKind::Duplicate, sighting, AddressToText(first->second->address),
                    AddressToText(sighting.address));
        }
    }

    // Gone: absent from exactly `goneAfter` complete scans in a row that
    // covered its last address, the current one among them.
    if (current.complete) {
        std::vector<std::unordered_set<std::string>> present(earlier.size());
        for (std::size_t i = 0; i < earlier.size(); ++i)
            for (const Sighting& sighting : earlier[i].sightings)
                present[i].insert(sighting.identity);
        for (const auto& [identity, sighting] : last) {
            if (now.Find(identity) || !current.Covers(sighting->address))
                continue;
            int absent = 1;
            for (std::size_t i = earlier.size(); i-- > 0;) {
                const ScanView* scan = &earlier[i];
                if (present[i].count(identity))
                    break;
                if (scan->complete && scan->Covers(sighting->address))
                    ++absent;
            }
            if (absent == goneAfter)
                add(ChangeKind::Gone, *sighting, Names(*sighting), "");
        }
    }
    return changes;
}
