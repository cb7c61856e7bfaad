#include "tests/lan/WideLan.h"

#include <cstdio>

namespace {

std::string Hex(std::uint32_t value, int digits) {
    char text[9];
    std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
    return text;
}

} // namespace

bool WideLan::AnswersNodeStatus(std::uint32_t address) {
    return (address & 1u) == 0;
}

std::vector<TestLanName> WideLan::Names(std::uint32_t address) {
    if (!AnswersNodeStatus(address))
        return {};
    const std::string host = Hex(address & 0xFFFFu, 4);
    const std::string workstation = "W" + host;
    const std::string workgroup = "WIDE" + Hex((address >> 8) & 0xFFu, 2);
    return {
        {workstation, 0x00, false}, {workgroup, 0x00, true}, {workstation, 0x20, false},
        {"M" + host, 0x03, false},  {workgroup, 0x1E, true},
    };
}

std::array<unsigned char, 6> WideLan::UnitId(std::uint32_t address) {
    return {0x02,
            0x4B,
            0x44,
            static_cast<unsigned char>(address >> 16),
            static_cast<unsigned char>(address >> 8),
            static_cast<unsigned char>(address)};
}

std::string WideLan::MacHex(std::uint32_t address) {
    std::string hex;
    for (unsigned char byte : UnitId(address))
        hex += Hex(byte, 2);
    return hex;
}
