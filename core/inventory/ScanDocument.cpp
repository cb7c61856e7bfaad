#include "core/inventory/ScanDocument.h"

#include "core/inventory/HostRow.h"
#include "core/inventory/InventoryReport.h"
#include "core/scan/HostCells.h"

#include <nlohmann/json.hpp>

#include <climits>
#include <cstdint>
#include <stdexcept>

namespace {

using Json = nlohmann::json;

constexpr int kDocumentVersion = 1;

// A document that is not what this program writes.
struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A whole number from low to high; anything else (a fraction, a number too
// large for its field, a text) refuses the document rather than being
// converted.
std::int64_t Whole(const Json& value, std::int64_t low, std::int64_t high, const char* what) {
    if (value.is_number_unsigned()) {
        const std::uint64_t number = value.get<std::uint64_t>();
        if (number <= static_cast<std::uint64_t>(high) && static_cast<std::int64_t>(number) >= low)
            return static_cast<std::int64_t>(number);
    } else if (value.is_number_integer()) {
        const std::int64_t number = value.get<std::int64_t>();
        if (number >= low && number <= high)
            return number;
    }
    throw Refused(std::string(what) + " is no whole number from " + std::to_string(low) +
                  " to " + std::to_string(high));
}

std::uint32_t Address(const Json& value, const char* what) {
    return static_cast<std::uint32_t>(Whole(value, 0, UINT32_MAX, what));
}

// A row's names of other sources than node status, when it has any: a
// document without them (an older program's) is a row without them.
Json NamesOf(const HostRecord& row) {
    Json names = Json::array();
    for (const HostRecord::Name& name : OtherNamesOf(row))
        names.push_back({{"name", name.text}, {"source", HostRecord::SourceText(name.source)}});
    return names;
}

// The names as a document holds them; a source this program does not know
// (a newer one's) is passed over, and a name is taken as plain text.
std::vector<HostRecord::Name> NamesFrom(const Json& row) {
    std::vector<HostRecord::Name> names;
    const auto list = row.find("names");
    if (list == row.end())
        return names;
    if (!list->is_array())
        throw Refused("a row's names are no list");
    for (const Json& entry : *list) {
        HostRecord::Name name;
        const std::string& source = entry.at("source").get_ref<const std::string&>();
        name.text = PlainText(entry.at("name").get_ref<const std::string&>());
        if (HostRecord::SourceOf(source, name.source) &&
            name.source != HostRecord::NameSource::Netbios && !name.text.empty())
            names.push_back(std::move(name));
    }
    return names;
}

} // namespace

std::string ScanDocumentOf(const RecordedScan& scan) {
    Json ranges = Json::array();
    for (const AddressRange& range : scan.ranges)
        ranges.push_back({range.start, range.end});
    Json rows = Json::array();
    for (const HostRecord& row : scan.rows) {
        Json cells = Json::array();
        for (const std::string& cell : CellsOf(row))
            cells.push_back(cell);
        Json kept = {{"address", row.address}, {"reasons", row.reasons}, {"cells", cells}};
        if (Json names = NamesOf(row); !names.empty())
            kept["names"] = std::move(names);
        rows.push_back(std::move(kept));
    }
    const Json document = {{"version", kDocumentVersion},
                           {"started_ms", scan.startedMs},
                           {"ended_ms", scan.endedMs},
                           {"complete", scan.complete},
                           {"settings", scan.settings},
                           {"site", scan.site},
                           {"site_scan", scan.siteScan},
                           {"ranges", ranges},
                           {"rows", rows}};
    // Bytes that are no UTF-8 (a name from a hostile host) are replaced
    // rather than refused: the scan must not be lost for one name.
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool ScanFromDocument(const std::string& text, RecordedScan& scan, std::string& error) {
    try {
        const Json document = Json::parse(text);
        if (Whole(document.at("version"), 0, INT32_MAX, "version") != kDocumentVersion) {
            error = "a scan document of another version";
            return false;
        }
        RecordedScan read;
        read.startedMs = Whole(document.at("started_ms"), INT64_MIN, INT64_MAX, "started_ms");
        read.endedMs = Whole(document.at("ended_ms"), INT64_MIN, INT64_MAX, "ended_ms");
        read.complete = document.at("complete").get<bool>();
        read.settings = document.at("settings").get<std::string>();
        read.site = document.at("site").get<std::string>();
        read.siteScan = document.at("site_scan").get<std::string>();
        for (const Json& range : document.at("ranges"))
            read.ranges.push_back({Address(range.at(0), "a range's start"),
                                   Address(range.at(1), "a range's end")});
        for (const Json& row : document.at("rows")) {
            const Json& cells = row.at("cells");
            HostCells texts;
            if (cells.size() != texts.size()) {
                error = "a row of the scan document has " + std::to_string(cells.size()) +
                        " cells";
                return false;
            }
            for (std::size_t i = 0; i < texts.size(); ++i)
                texts[i] = cells.at(i).get<std::string>();
            // The row's value from its cells; its address and reasons from
            // their own fields.
            HostRecord& record = read.rows.emplace_back(RecordOfCells(texts));
            record.address = Address(row.at("address"), "a row's address");
            record.reasons =
                static_cast<unsigned>(Whole(row.at("reasons"), 0, UINT32_MAX, "a row's reasons"));
            record.names = NamesFrom(row);
        }
        scan = std::move(read);
        return true;
    } catch (const Json::exception& e) {
        error = std::string("not a scan document: ") + e.what();
        return false;
    } catch (const Refused& e) {
        error = std::string("not a scan document: ") + e.what();
        return false;
    }
}
