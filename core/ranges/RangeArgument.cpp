#include "core/ranges/RangeArgument.h"

#include "platform/wire/DottedQuad.h"

namespace {

// A decimal number from 0 to `max` without sign, spaces or leading zeros.
bool ParseDecimal(std::string_view text, unsigned max, unsigned& value) {
    if (text.empty() || text.size() > 3 || (text.size() > 1 && text[0] == '0'))
        return false;
    unsigned result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + static_cast<unsigned>(c - '0');
    }
    if (result > max)
        return false;
    value = result;
    return true;
}

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

std::string NotAnAddress(std::string_view text) {
    return Quoted(text) +
           " is not an IPv4 address (expected four numbers from 0 to 255 separated by dots, "
           "without leading zeros)";
}

} // namespace

bool ParseRangeArgument(std::string_view text, AddressRange& range, std::string& error) {
    if (text.empty()) {
        error = "empty address range";
        return false;
    }
    AddressRange parsed;
    std::size_t dash = text.find('-');
    std::size_t slash = text.find('/');
    if (dash != std::string_view::npos && slash != std::string_view::npos) {
        error = Quoted(text) + " mixes a range with a network prefix";
        return false;
    }
    if (dash != std::string_view::npos) {
        std::string_view first = text.substr(0, dash);
        std::string_view second = text.substr(dash + 1);
        if (!ParseDottedQuad(first, parsed.start)) {
            error = NotAnAddress(first);
            return false;
        }
        if (second.find('.') == std::string_view::npos) {
            unsigned last = 0;
            if (!ParseDecimal(second, 255, last)) {
                error = "the end " + Quoted(second) +
                        " is neither an IPv4 address nor a last octet from 0 to 255";
                return false;
            }
            parsed.end = (parsed.start & 0xFFFFFF00u) | last;
        } else if (!ParseDottedQuad(second, parsed.end)) {
            error = NotAnAddress(second);
            return false;
        }
    } else if (slash != std::string_view::npos) {
        std::string_view network = text.substr(0, slash);
        std::string_view prefix = text.substr(slash + 1);
        std::uint32_t address = 0;
        if (!ParseDottedQuad(network, address)) {
            error = NotAnAddress(network);
            return false;
        }
        unsigned bits = 0;
        if (!ParseDecimal(prefix, 32, bits)) {
            error = "the prefix length " + Quoted(prefix) + " is not a number from 0 to 32";
            return false;
        }
        std::uint32_t mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
        parsed.start = address & mask;
        parsed.end = address | ~mask;
    } else if (!ParseDottedQuad(text, parsed.start)) {
        error = NotAnAddress(text);
        return false;
    } else {
        parsed.end = parsed.start;
    }

    if (parsed.start == 0) {
        error = Quoted(text) + " starts at 0.0.0.0, which cannot be scanned";
        return false;
    }
    if (parsed.end == 0) {
        error = Quoted(text) + " ends at 0.0.0.0, which cannot be scanned";
        return false;
    }
    if (parsed.end < parsed.start) {
        error = Quoted(text) + " ends (" + AddressToText(parsed.end) + ") before it starts (" +
                AddressToText(parsed.start) + ")";
        return false;
    }
    range = parsed;
    return true;
}

bool ParseAddressArgument(std::string_view text, std::uint32_t& address, std::string& error) {
    if (!ParseDottedQuad(text, address)) {
        error = NotAnAddress(text);
        return false;
    }
    return true;
}
