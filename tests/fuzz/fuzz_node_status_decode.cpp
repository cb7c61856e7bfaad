// Feeds arbitrary answer buffers to the node-status decoder, each in a heap
// block of exactly its size so that any read past it is caught, and checks
// the invariants the scan worker relies on.

#include "core/scan/NodeStatus.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

bool IsUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<UCHAR> block(data, data + size);
    for (bool skipOwn : {false, true}) {
        const NodeStatus status = DecodeNodeStatus(block.data(), block.size(), skipOwn);
        Check(status.macAddress.size() == 12);
        for (char c : status.macAddress)
            Check(IsUpperHex(c));
        // Names come from 15-byte fields; a <00> name never holds a blank.
        for (const auto& name : {status.computerName, status.domainName}) {
            if (name) {
                Check(name->size() <= 15);
                Check(name->find(' ') == std::string::npos);
                Check(name->find('\0') == std::string::npos);
            }
        }
        Check(status.workstationName.size() <= 15);
        // At most 30 names of at most 15 bytes, joined by '/'.
        Check(status.messengerNames.size() <= 30 * 15 + 29);
        Check(status.messengerNames.find('\0') == std::string::npos);
    }
    return 0;
}
