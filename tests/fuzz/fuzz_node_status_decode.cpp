// Feeds arbitrary name tables to the making of a host's value and its cells: the
// first six bytes are the unit id, then each 18 bytes a name entry (16 name
// bytes, NAME_FLAGS) as a node-status answer holds them. Checks the
// invariants the rows rely on.

#include "core/scan/HostCells.h"
#include "core/scan/NodeStatusCells.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

bool IsUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool HasControl(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

NodeStatusAnswer AnswerOf(const std::uint8_t* data, std::size_t size) {
    NodeStatusAnswer answer;
    std::memcpy(answer.unitId.data(), data, std::min<std::size_t>(size, 6));
    for (std::size_t at = 6; at + kNodeStatusEntrySize <= size; at += kNodeStatusEntrySize) {
        NodeStatusAnswer::Name name;
        std::memcpy(name.bytes.data(), data + at, 16);
        name.flags = static_cast<std::uint16_t>((data[at + 16] << 8) | data[at + 17]);
        answer.names.push_back(name);
    }
    return answer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const NodeStatusAnswer answer = AnswerOf(data, size);
    for (bool skipOwn : {false, true}) {
        ScanOptions options;
        options.ignoreWorkstation = skipOwn;
        const HostRecord row = HostOfAnswer(answer, options);
        const HostCells cells = CellsOf(row);
        const std::string& mac = cells[HostRecord::kMac];
        Check(mac.size() == 12);
        for (char c : mac)
            Check(IsUpperHex(c));
        // A <00> name ends at its first blank; no name holds a control
        // character, so a row is one line of plain text.
        for (const auto& name : {row.computer, row.workgroup}) {
            if (name) {
                Check(name->find(' ') == std::string::npos);
                Check(!HasControl(*name));
            }
        }
        Check(row.messengers.size() <= 30);
        for (const std::string& name : row.messengers)
            Check(!HasControl(name));
        for (const std::string& cell : cells)
            Check(!HasControl(cell));
    }
    return 0;
}
