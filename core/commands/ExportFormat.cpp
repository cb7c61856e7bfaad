#include "core/commands/ExportFormat.h"

#include "core/scan/HostRecord.h"
#include "core/scan/ResultList.h"

namespace {
constexpr std::size_t kCellBuffer = 256;
}

std::string ExportCell(std::string_view cell) {
    if (cell.empty())
        return "-";
    std::string text;
    const char first = cell.front();
    if (first == '=' || first == '+' || first == '-' || first == '@')
        text += '\'';
    for (char c : cell)
        text += (c == '\r' || c == '\n') ? '.' : c;
    if (text.find_first_of(",\"") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + '"';
}

std::string FormatExportText(ResultList& list) {
    std::string text;
    for (int column = 0; column < HostRecord::kColumnCount; ++column) {
        if (column > 0)
            text += ',';
        text += list.GetColumnTitle(column);
    }
    text += "\r\n";
    for (int row = 0; row != list.GetItemCount(); ++row) {
        for (int column = 0; column < HostRecord::kColumnCount; ++column) {
            if (column > 0)
                text += ',';
            text += ExportCell(list.ReadCell(row, column, kCellBuffer));
        }
        text += "\r\n";
    }
    return text;
}
