#include "platform/wire/DnsName.h"

namespace {

// Pointers are offsets from the start of the message; its fixed header holds
// no name to point to.
constexpr std::size_t kHeaderSize = 12;

} // namespace

// A pointer must lead strictly before the run of labels it ends, so the walk
// only ever moves backwards and cannot loop; the hop cap keeps a chain of
// pointers to pointers from costing a walk of the whole message.
DnsNameWalk WalkDnsName(const unsigned char* message, std::size_t length, std::size_t at,
                        int maxPointerHops, DnsName* name) {
    DnsNameWalk walk;
    if (name != nullptr)
        name->size = 0;
    std::size_t cursor = at;
    std::size_t runStart = at;
    std::size_t end = 0;
    bool jumped = false;
    int hops = 0;
    std::size_t total = 0; // the labels' wire octets so far, uncompressed
    for (;;) {
        if (cursor >= length)
            return walk;
        const unsigned char b = message[cursor];
        if (b == 0) {
            if (!jumped)
                end = cursor + 1;
            break;
        }
        if ((b & 0xC0) == 0xC0) {
            if (cursor + 1 >= length)
                return walk;
            const std::size_t target =
                (static_cast<std::size_t>(b & 0x3F) << 8) | message[cursor + 1];
            if (target < kHeaderSize || target >= runStart || ++hops > maxPointerHops) {
                walk.check = DnsNameCheck::Bad;
                return walk;
            }
            if (!jumped) {
                end = cursor + 2;
                jumped = true;
            }
            cursor = target;
            runStart = target;
            continue;
        }
        // The extended (0x40) and reserved (0x80) label types; the label and,
        // at least, the closing zero after it must fit in the name.
        if ((b & 0xC0) != 0 || total + 1 + b + 1 > kDnsMaxNameLength) {
            walk.check = DnsNameCheck::Bad;
            return walk;
        }
        if (length - cursor - 1 < b)
            return walk;
        if (name != nullptr)
            for (std::size_t i = 0; i <= b; ++i)
                name->bytes[name->size++] = message[cursor + i];
        total += 1u + b;
        cursor += 1u + b;
    }
    if (name != nullptr)
        name->bytes[name->size++] = 0;
    walk.check = DnsNameCheck::Whole;
    walk.end = end;
    return walk;
}
