#include "core/commands/PackedCells.h"

#include "core/scan/HostCells.h"

#include <cstdint>
#include <cstring>

namespace PackedCells {

namespace {

using Length = std::uint32_t;

void Append(std::string& packed, std::string_view cell) {
    const Length length = static_cast<Length>(cell.size());
    packed.append(reinterpret_cast<const char*>(&length), sizeof length);
    packed.append(cell);
}

} // namespace

std::string WithFirst(std::string_view first) {
    std::string packed;
    packed.reserve(first.size() + HostRecord::kColumnCount * sizeof(Length));
    Append(packed, first);
    for (int column = 1; column < HostRecord::kColumnCount; ++column)
        Append(packed, {});
    return packed;
}

std::string Of(const HostRecord& record) {
    return Of(CellsOf(record));
}

std::string Of(const HostCells& cells) {
    std::size_t size = 0;
    for (const std::string& cell : cells)
        size += sizeof(Length) + cell.size();
    std::string packed;
    packed.reserve(size);
    for (const std::string& cell : cells)
        Append(packed, cell);
    return packed;
}

std::string_view Cell(std::string_view packed, int column) {
    if (column < 0 || column >= HostRecord::kColumnCount)
        return {};
    std::size_t at = 0;
    for (int i = 0;; ++i) {
        Length length = 0;
        if (at + sizeof length > packed.size())
            return {};
        std::memcpy(&length, packed.data() + at, sizeof length);
        at += sizeof length;
        if (i == column)
            return packed.substr(at, length);
        at += length;
    }
}

std::string WithCell(std::string_view packed, int column, std::string_view text) {
    std::string result;
    for (int i = 0; i < HostRecord::kColumnCount; ++i)
        Append(result, i == column ? text : Cell(packed, i));
    return result;
}

} // namespace PackedCells
