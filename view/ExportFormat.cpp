#include "view/ExportFormat.h"

#include "scan/HostRecord.h"
#include "scan/ResultList.h"

namespace {
constexpr std::size_t kCellBuffer = 256;
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
            std::string cell = list.ReadCell(row, column, kCellBuffer);
            text += cell.empty() ? std::string("-") : cell;
        }
        text += "\r\n";
    }
    return text;
}
