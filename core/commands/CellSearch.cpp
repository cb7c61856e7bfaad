#include "core/commands/CellSearch.h"

#include "core/scan/HostRecord.h"
#include "core/scan/ResultList.h"
#include "platform/text/TextCodec.h"

namespace {

constexpr std::size_t kCellBuffer = 256;

bool IsLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The length of the character at `at`: two bytes after a lead byte, unless
// the text ends there.
std::size_t CharacterLength(std::string_view bytes, std::size_t at) {
    return IsLeadByte(static_cast<unsigned char>(bytes[at])) && at + 1 < bytes.size() ? 2 : 1;
}

// A double-byte lower-case letter's upper-case second byte (the lead byte
// stays); 0 when the character is not one.
unsigned char UpperTrailByte(unsigned char lead, unsigned char trail) {
    if (lead == 0x82 && trail >= 0x81 && trail <= 0x9A) // full-width a to z
        return static_cast<unsigned char>(trail - 0x21);
    if (lead == 0x83 && trail >= 0xBF && trail <= 0xD6) // Greek alpha to omega
        return static_cast<unsigned char>(trail - 0x20);
    if (lead == 0x84 && trail >= 0x70 && trail <= 0x7E) // Cyrillic a to n, with yo
        return static_cast<unsigned char>(trail - 0x30);
    if (lead == 0x84 && trail >= 0x80 && trail <= 0x91) // Cyrillic o to ya
        return static_cast<unsigned char>(trail - 0x31);
    return 0;
}

} // namespace

std::string Cp932UpperCase(std::string_view bytes) {
    std::string upper(bytes);
    for (std::size_t at = 0; at < upper.size();) {
        const std::size_t length = CharacterLength(upper, at);
        const auto first = static_cast<unsigned char>(upper[at]);
        if (length == 2) {
            if (unsigned char trail =
                    UpperTrailByte(first, static_cast<unsigned char>(upper[at + 1])))
                upper[at + 1] = static_cast<char>(trail);
        } else if (first >= 'a' && first <= 'z') {
            upper[at] = static_cast<char>(first - 'a' + 'A');
        }
        at += length;
    }
    return upper;
}

bool Cp932Contains(std::string_view cell, std::string_view text) {
    for (std::size_t at = 0; at < cell.size() && cell.size() - at >= text.size();
         at += CharacterLength(cell, at)) {
        if (cell.compare(at, text.size(), text) == 0)
            return true;
    }
    return false;
}

int FindMatchingRow(ResultList& list, std::string_view text) {
    std::string bytes;
    if (!Utf8ToCp932(text, bytes))
        return -1;
    const std::string wanted = Cp932UpperCase(bytes);
    for (int row = 0; row != list.GetItemCount(); ++row) {
        for (int column = 0; column < HostRecord::kColumnCount; ++column) {
            std::string cell;
            Utf8ToCp932(list.ReadCell(row, column, kCellBuffer), cell);
            if (Cp932Contains(Cp932UpperCase(cell), wanted))
                return row;
        }
    }
    return -1;
}
