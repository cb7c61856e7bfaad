#include "core/inventory/ScanDocument.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

constexpr int kDocumentVersion = 1;

} // namespace

std::string ScanDocumentOf(const RecordedScan& scan) {
    Json ranges = Json::array();
    for (const AddressRange& range : scan.ranges)
        ranges.push_back({range.start, range.end});
    Json rows = Json::array();
    for (const HostRecord& row : scan.rows) {
        Json cells = Json::array();
        for (const std::string& cell : row.cells)
            cells.push_back(cell);
        rows.push_back({{"address", row.address}, {"reasons", row.reasons}, {"cells", cells}});
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
        if (document.at("version").get<int>() != kDocumentVersion) {
            error = "a scan document of another version";
            return false;
        }
        RecordedScan read;
        read.startedMs = document.at("started_ms").get<std::int64_t>();
        read.endedMs = document.at("ended_ms").get<std::int64_t>();
        read.complete = document.at("complete").get<bool>();
        read.settings = document.at("settings").get<std::string>();
        read.site = document.at("site").get<std::string>();
        read.siteScan = document.at("site_scan").get<std::string>();
        for (const Json& range : document.at("ranges"))
            read.ranges.push_back(
                {range.at(0).get<std::uint32_t>(), range.at(1).get<std::uint32_t>()});
        for (const Json& row : document.at("rows")) {
            HostRecord& record = read.rows.emplace_back();
            record.address = row.at("address").get<std::uint32_t>();
            record.reasons = row.at("reasons").get<unsigned>();
            const Json& cells = row.at("cells");
            if (cells.size() != record.cells.size()) {
                error = "a row of the scan document has " + std::to_string(cells.size()) +
                        " cells";
                return false;
            }
            for (std::size_t i = 0; i < record.cells.size(); ++i)
                record.cells[i] = cells.at(i).get<std::string>();
        }
        scan = std::move(read);
        return true;
    } catch (const Json::exception& e) {
        error = std::string("not a scan document: ") + e.what();
        return false;
    }
}
