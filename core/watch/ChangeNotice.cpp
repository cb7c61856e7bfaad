#include "core/watch/ChangeNotice.h"

#include "core/inventory/HostIdentity.h"
#include "core/inventory/InventoryReport.h"
#include "core/inventory/JsonReport.h"

#include <nlohmann/json.hpp>

#include <array>

namespace {

using Json = nlohmann::ordered_json;

constexpr std::array kKinds = {ChangeKind::New,     ChangeKind::Returned,   ChangeKind::Gone,
                               ChangeKind::Renamed, ChangeKind::MacChanged, ChangeKind::Moved,
                               ChangeKind::Duplicate};

std::string RangeText(const AddressRange& range) {
    return range.start == range.end ? AddressToText(range.start)
                                    : AddressToText(range.start) + "-" + AddressToText(range.end);
}

// One change on a line: the kind, the address, the host, then what it was
// and is, as a change reads elsewhere.
std::string ChangeLine(const ReportedChange& reported) {
    const Change& change = reported.change;
    const std::string kind = ChangeKindText(change.kind);
    const std::string text = ChangeText(change); // the kind, then "before→after"
    return kind + " " + AddressToText(change.address) + " " +
           PlainText(IdentityText(change.identity)) + text.substr(kind.size());
}

// Bytes that are no UTF-8 become U+FFFD instead of an exception.
std::string Dump(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace

std::string NoticeTitle(const std::vector<ReportedChange>& changes) {
    std::array<std::size_t, kKinds.size()> counts{};
    for (const ReportedChange& reported : changes)
        ++counts[static_cast<std::size_t>(reported.change.kind)];
    std::string title;
    for (std::size_t i = 0; i < kKinds.size(); ++i)
        if (counts[i] > 0)
            title += (title.empty() ? "" : "・") + std::string(ChangeKindText(kKinds[i])) + " " +
                     std::to_string(counts[i]);
    return title;
}

std::string NoticeText(const NoticeScan& scan, const std::vector<ReportedChange>& changes,
                       std::size_t maxLines) {
    std::string ranges;
    for (const AddressRange& range : scan.ranges)
        ranges += (ranges.empty() ? "" : ", ") + RangeText(range);
    std::string text = "スキャン " + std::to_string(scan.id) + " (" +
                       LocalDateTimeText(scan.startedMs) +
                       (scan.site.empty() ? "" : ", " + PlainText(scan.site)) + ", " + ranges +
                       "): " + NoticeTitle(changes) + "\n";
    for (std::size_t i = 0; i < changes.size() && i < maxLines; ++i)
        text += ChangeLine(changes[i]) + "\n";
    if (changes.size() > maxLines)
        text += "ほか " + std::to_string(changes.size() - maxLines) + " 件\n";
    return text;
}

std::string NoticeDocument(const NoticeScan& scan, const std::vector<ReportedChange>& changes) {
    Json document;
    document["schema"] = kNoticeSchemaVersion;
    Json about;
    about["id"] = scan.id;
    about["store"] = PlainText(scan.store);
    if (!scan.site.empty())
        about["site"] = PlainText(scan.site);
    about["started"] = IsoUtcText(scan.startedMs);
    about["finished"] = IsoUtcText(scan.endedMs);
    about["complete"] = scan.complete;
    Json ranges = Json::array();
    for (const AddressRange& range : scan.ranges)
        ranges.push_back(RangeText(range));
    about["ranges"] = std::move(ranges);
    document["scan"] = std::move(about);
    // The objects of --changes --format json, one line each, read back: one
    // writer of them, so that the two can never disagree.
    Json list = Json::array();
    for (const ReportedChange& change : changes)
        list.push_back(Json::parse(ChangeJsonLine(change)));
    document["changes"] = std::move(list);
    document["title"] = NoticeTitle(changes);
    document["text"] = NoticeText(scan, changes);
    return Dump(document);
}

std::string NoticeKey(const std::string& store, std::int64_t scan) {
    return PlainText(store) + "-" + std::to_string(scan);
}
