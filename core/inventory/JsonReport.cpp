#include "core/inventory/JsonReport.h"

#include "core/inventory/HostIdentity.h"
#include "core/inventory/InventoryReport.h"
#include "core/ranges/AddressRange.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>

namespace {

// Keys in the order the schema lists them, which is easier on a reader.
using Json = nlohmann::ordered_json;

// The vendor cell's text when the table knows no vendor for the MAC.
constexpr const char* kUnknownVendor = "不明";

Json TextOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(PlainText(text));
}

Json Header(const char* type) {
    Json line;
    line["type"] = type;
    line["schema"] = kJsonSchemaVersion;
    return line;
}

Json ReasonsOf(unsigned bits) {
    Json reasons = Json::array();
    for (const auto& [bit, key] :
         {std::pair{HostRecord::kReasonEcho, "echo"},
          std::pair{HostRecord::kReasonNbstat, "nbstat"}, std::pair{HostRecord::kReasonArp, "arp"},
          std::pair{HostRecord::kReasonPortUnreachable, "port-unreachable"}})
        if (bits & bit)
            reasons.push_back(key);
    return reasons;
}

// Every name of the host with its source, in order of preference.
Json HostnamesOf(const std::vector<HostRecord::Name>& names) {
    Json list = Json::array();
    for (const HostRecord::Name& name : names)
        if (!name.text.empty())
            list.push_back(
                {{"name", PlainText(name.text)}, {"source", HostRecord::SourceText(name.source)}});
    return list;
}

Json VendorOf(const std::string& vendor) {
    return vendor == kUnknownVendor ? Json(nullptr) : TextOrNull(vendor);
}

// A scan's row, from its value.
void AddRowFields(Json& line, const HostRecord& row) {
    line["address"] = HostRecord::FormatAddress(row.address);
    line["present"] = row.response == HostRecord::Response::Answered;
    line["reasons"] = ReasonsOf(row.reasons);
    line["name"] = TextOrNull(row.computer.value_or(""));
    line["workgroup"] = TextOrNull(row.workgroup.value_or(""));
    line["mac"] = row.hasMac ? Json(HostRecord::FormatMac(row.mac.data())) : Json(nullptr);
    line["vendor"] = VendorOf(row.vendor);
    // A row read back from text may hold empty pieces between its '/'; a
    // name is never empty.
    Json messengers = Json::array();
    for (const std::string& name : row.messengers)
        if (!name.empty())
            messengers.push_back(PlainText(name));
    line["messengers"] = std::move(messengers);
    line["rtt_ms"] = row.rttMs >= 0 ? Json(row.rttMs) : Json(nullptr);
    line["hostnames"] = HostnamesOf(row.AllNames());
}

// A row as the inventory keeps it: its cells, the messenger names joined,
// and the names of the other sources.
void AddStoredRowFields(Json& line, const HostCells& cells,
                        const std::vector<HostRecord::Name>& names, bool present) {
    line["address"] = PlainText(cells[HostRecord::kAddress]);
    line["present"] = present;
    line["reasons"] = Json::array();
    line["name"] = TextOrNull(cells[HostRecord::kComputer]);
    line["workgroup"] = TextOrNull(cells[HostRecord::kDomain]);
    line["mac"] = TextOrNull(CanonicalMac(cells[HostRecord::kMac]));
    line["vendor"] = VendorOf(cells[HostRecord::kVendor]);
    Json messengers = Json::array();
    const std::string& joined = cells[HostRecord::kMessenger];
    for (std::size_t start = 0; start < joined.size();) {
        std::size_t end = joined.find('/', start);
        if (end == std::string::npos)
            end = joined.size();
        if (end > start)
            messengers.push_back(PlainText(joined.substr(start, end - start)));
        start = end + 1;
    }
    line["messengers"] = std::move(messengers);
    line["rtt_ms"] = nullptr;
    std::vector<HostRecord::Name> all;
    if (!cells[HostRecord::kComputer].empty())
        all.push_back({cells[HostRecord::kComputer], HostRecord::NameSource::Netbios});
    all.insert(all.end(), names.begin(), names.end());
    line["hostnames"] = HostnamesOf(all);
}

// One line; bytes that are no UTF-8 become U+FFFD instead of an exception.
std::string Line(const Json& line) {
    return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

Json IsoOrNull(std::int64_t unixMs) {
    return unixMs > 0 ? Json(IsoUtcText(unixMs)) : Json(nullptr);
}

} // namespace

const char* ChangeKindKey(ChangeKind kind) {
    switch (kind) {
    case ChangeKind::New:
        return "new";
    case ChangeKind::Returned:
        return "returned";
    case ChangeKind::Gone:
        return "gone";
    case ChangeKind::Renamed:
        return "renamed";
    case ChangeKind::MacChanged:
        return "mac-changed";
    case ChangeKind::Moved:
        return "moved";
    case ChangeKind::Duplicate:
        return "duplicate";
    }
    return "";
}

std::string IsoUtcText(std::int64_t unixMs) {
    const std::int64_t millis = ((unixMs % 1000) + 1000) % 1000;
    const std::time_t seconds = static_cast<std::time_t>((unixMs - millis) / 1000);
    std::tm utc{};
    if (!gmtime_r(&seconds, &utc))
        return {};
    char text[48];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis));
    return text;
}

std::string RowJsonLine(const HostRecord& row) {
    Json line = Header("row");
    AddRowFields(line, row);
    return Line(line);
}

std::string ChangeJsonLine(const ReportedChange& reported) {
    const Change& change = reported.change;
    Json line = Header("change");
    line["kind"] = ChangeKindKey(change.kind);
    line["label"] = ChangeKindText(change.kind);
    line["address"] = AddressToText(change.address);
    line["identity"] = PlainText(IdentityText(change.identity));
    const bool byMac = change.identity.rfind("mac:", 0) == 0;
    line["mac"] = byMac ? TextOrNull(CanonicalMac(IdentityText(change.identity))) : Json(nullptr);
    line["before"] = TextOrNull(change.before);
    line["after"] = TextOrNull(change.after);
    line["first_seen"] = IsoOrNull(reported.firstSeenMs);
    line["first_seen_scan"] = change.firstSeen > 0 ? Json(change.firstSeen) : Json(nullptr);
    line["source"] = change.kind == ChangeKind::Renamed
                         ? Json(HostRecord::SourceText(change.source))
                         : Json(nullptr);
    return Line(line);
}

std::string HistoryJsonLine(const HostHistory& history, const HistoryEntry& entry) {
    Json line = Header("history");
    line["scan"] = entry.scan;
    line["started"] = IsoOrNull(entry.startedMs);
    line["seen"] = entry.seen;
    line["site"] = entry.site.empty() ? Json(nullptr) : Json(PlainText(entry.site));
    line["identity"] = PlainText(IdentityText(history.identity));
    line["randomised_mac"] = history.randomisedMac;
    AddStoredRowFields(line, entry.row, entry.names,
                       entry.seen && entry.row[HostRecord::kResponse] == HostRecord::kAnswered);
    Json changes = Json::array();
    for (const Change& change : entry.changes)
        changes.push_back(ChangeKindKey(change.kind));
    line["changes"] = std::move(changes);
    return Line(line);
}
