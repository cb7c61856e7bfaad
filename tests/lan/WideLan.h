#pragma once
// What the addresses of the test LAN's routed prefix answer. Every address
// answers ping (the wide host holds the whole prefix as a local route); the
// node-status responder there answers for the addresses whose last octet is
// even, with a name table and a unit id made from the address, and stays
// silent for the others, so their queries run into the time-out.
// The responder, the LAN tests and the benchmarks all take the rule from here.

#include "tests/lan/TestLan.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class WideLan {
public:
    static bool AnswersNodeStatus(std::uint32_t address);

    // In the order the responder lists them, as a workstation does:
    // W<xxyy> <00>, WIDE<xx> <00> group, W<xxyy> <20>, M<xxyy> <03>,
    // WIDE<xx> <1E> group, where xx and yy are the address's last two octets
    // in upper-case hex: distinct over a /16, the widest prefix the layout
    // may route. Empty for an address that stays silent.
    static std::vector<TestLanName> Names(std::uint32_t address);

    // 02:4b:44 (locally administered) and the address's last three octets.
    static std::array<unsigned char, 6> UnitId(std::uint32_t address);
    static std::string MacHex(std::uint32_t address); // "024B4412100A"
};
