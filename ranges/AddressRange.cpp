#include "ranges/AddressRange.h"

#include <arpa/inet.h>
#include <cstdio>

std::uint32_t AddressFromText(const std::string& text) {
    // INADDR_NONE is all ones, so a rejected text stays 0xFFFFFFFF after ntohl.
    return ntohl(inet_addr(text.c_str()));
}

std::string AddressToText(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(address >> 24),
                  static_cast<int>((address >> 16) & 0xFF), static_cast<int>((address >> 8) & 0xFF),
                  static_cast<int>(address & 0xFF));
    return text;
}
