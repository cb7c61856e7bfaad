#include "core/ranges/AddressRange.h"

#include <arpa/inet.h>
#include <cstdio>

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

std::string AddressToText(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(address >> 24),
                  static_cast<int>((address >> 16) & 0xFF), static_cast<int>((address >> 8) & 0xFF),
                  static_cast<int>(address & 0xFF));
    return text;
}
