#include "core/commands/HostTable.h"

#include "core/scan/HostCells.h"
#include "platform/text/TerminalText.h"

#include <algorithm>

const char* const kHostTableTitles[kHostTableColumnCount] = {
    HostRecord::kTitles[HostRecord::kAddress],
    HostRecord::kTitles[HostRecord::kResponse],
    "名前 (取得元)",
    HostRecord::kTitles[HostRecord::kDomain],
    HostRecord::kTitles[HostRecord::kMac],
    HostRecord::kTitles[HostRecord::kVendor],
};

namespace {

enum TableColumn {
    kAddressColumn,
    kMarkColumn,
    kNameColumn,
    kGroupColumn,
    kMacColumn,
    kVendorColumn
};

std::string Cell(std::string_view text, std::size_t maxWidth) {
    return text.empty() ? "-" : TerminalCell(text, maxWidth);
}

// The best name, cut so that its source, after it, always shows.
std::string NameCell(const HostRecord& host) {
    const std::vector<HostRecord::Name> names = host.AllNames();
    if (names.empty())
        return "-";
    const std::string source =
        std::string(" (") + HostRecord::SourceText(names.front().source) + ")";
    const std::size_t room = kHostTableCellWidths[kNameColumn] - source.size();
    return TerminalCell(names.front().text, room) + source;
}

} // namespace

std::vector<std::string> HostTableCells(const HostRecord& host) {
    std::vector<std::string> cells(kHostTableColumnCount);
    const auto width = [](int column) { return kHostTableCellWidths[column]; };
    cells[kAddressColumn] = Cell(CellOf(host, HostRecord::kAddress), width(kAddressColumn));
    cells[kMarkColumn] = Cell(CellOf(host, HostRecord::kResponse), width(kMarkColumn));
    cells[kNameColumn] = NameCell(host);
    cells[kGroupColumn] = Cell(host.workgroup.value_or(""), width(kGroupColumn));
    cells[kMacColumn] = Cell(CellOf(host, HostRecord::kMac), width(kMacColumn));
    cells[kVendorColumn] = Cell(host.vendor, width(kVendorColumn));
    return cells;
}

std::string FormatHostTable(const std::vector<HostRecord>& hosts) {
    std::vector<std::vector<std::string>> lines;
    lines.reserve(hosts.size() + 1);
    lines.emplace_back(std::begin(kHostTableTitles), std::end(kHostTableTitles));
    for (const HostRecord& host : hosts)
        lines.push_back(HostTableCells(host));
    std::vector<std::size_t> widths(kHostTableColumnCount, 0);
    for (const std::vector<std::string>& line : lines)
        for (int column = 0; column < kHostTableColumnCount; ++column)
            widths[column] = std::max(widths[column], TerminalWidth(line[column]));
    std::string text;
    for (const std::vector<std::string>& line : lines) {
        std::string printed;
        for (int column = 0; column < kHostTableColumnCount; ++column) {
            printed += line[column];
            if (column + 1 < kHostTableColumnCount)
                printed += std::string(widths[column] - TerminalWidth(line[column]) + 2, ' ');
        }
        while (!printed.empty() && printed.back() == ' ')
            printed.pop_back();
        text += printed + "\n";
    }
    return text;
}
