// Feeds arbitrary datagrams, each in a heap block of exactly its size, to the
// reader of the kernel's neighbour messages, and checks that what it returns
// could have come from those bytes.

#include "platform/net/NeighbourTable.h"

#include <cstdint>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    const NeighbourParse parse = ParseNeighbourMessages(bytes);
    // Each entry takes a netlink header, a neighbour header and a
    // destination; each message skipped at least a netlink header.
    constexpr std::size_t kSmallestEntry = 16 + 12 + 8;
    Check(parse.entries.size() * kSmallestEntry + parse.skipped * 16 <= size);
    for (const NeighbourEntry& entry : parse.entries)
        if (!entry.hasMac)
            Check(entry.mac == std::array<std::uint8_t, 6>{});
    Check(parse.gotError || parse.error == 0);
    Check(!(parse.done && parse.truncated));
    return 0;
}
