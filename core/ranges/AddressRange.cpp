#include "core/ranges/AddressRange.h"

#include <arpa/inet.h>
#include <charconv>

std::uint32_t AddressFromText(const std::string& text) {
    // INADDR_NONE is all ones, so a rejected text stays 0xFFFFFFFF after ntohl.
    return ntohl(inet_addr(text.c_str()));
}

bool IsAddressText(const std::string& text) {
    if (AddressFromText(text) != 0xFFFFFFFFu)
        return true;
    // inet_addr ignores what follows a blank after the address; inet_aton,
    // the same reader without that leniency, decides for the text before it.
    std::string head = text.c_str(); // ends at the first NUL, as inet_addr reads it
    head = head.substr(0, head.find_first_of(" \t\n\v\f\r"));
    in_addr parsed;
    return inet_aton(head.c_str(), &parsed) != 0;
}

// Made for every row a scan lists and every host an inventory compares, so
// by hand rather than through printf.
std::string AddressToText(std::uint32_t address) {
    char text[16];
    char* end = text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        end = std::to_chars(end, text + sizeof text, (address >> shift) & 0xFF).ptr;
        if (shift)
            *end++ = '.';
    }
    return std::string(text, end);
}
