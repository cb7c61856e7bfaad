#include "core/inventory/HostArgument.h"

#include "core/inventory/HostIdentity.h"
#include "core/ranges/AddressRange.h"
#include "core/ranges/RangeArgument.h"

#include <cstdint>
#include <tuple>

namespace {

// The hex digits of `text` when it is `groups` groups of `width` digits
// joined by `separator` (none when `groups` is 1); else empty.
std::string GroupedDigits(std::string_view text, int groups, std::size_t width, char separator) {
    const std::size_t length = groups * width + (groups - 1);
    if (text.size() != length)
        return {};
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((i + 1) % (width + 1) == 0) {
            if (text[i] != separator)
                return {};
        } else {
            digits += text[i];
        }
    }
    return CanonicalMac(digits);
}

std::string MacOf(std::string_view text) {
    for (const auto& [groups, width, separator] :
         {std::tuple{1, std::size_t{12}, '\0'}, std::tuple{6, std::size_t{2}, ':'},
          std::tuple{6, std::size_t{2}, '-'}, std::tuple{3, std::size_t{4}, '.'}}) {
        std::string mac = GroupedDigits(text, groups, width, separator);
        if (!mac.empty())
            return mac;
    }
    return {};
}

} // namespace

bool ParseHostArgument(std::string_view text, std::string& canonical, std::string& error) {
    if (std::string mac = MacOf(text); !mac.empty()) {
        canonical = mac;
        return true;
    }
    std::uint32_t address = 0;
    if (ParseAddressArgument(text, address, error)) {
        canonical = AddressToText(address);
        return true;
    }
    error = "'" + std::string(text) +
            "' is neither an IPv4 address (four numbers from 0 to 255 separated by dots, "
            "without leading zeros) nor a MAC address (12 hex digits, plain or as "
            "00:11:22:33:44:55, 00-11-22-33-44-55 or 0011.2233.4455)";
    return false;
}
