#pragma once
// The node-status answers of the test LAN's routed prefix, or of one host of
// the layout (the slow one), as bytes in and bytes out, so that every
// malformed datagram can be tried without a network.
// The socket around it is tests/lan/nbns_responder.cpp.

#include "tests/lan/TestLan.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class NodeStatusResponder {
public:
    explicit NodeStatusResponder(TestLanPrefix prefix);
    // Answers for `host` alone: its RegisteredNames, its MAC as unit id.
    explicit NodeStatusResponder(const TestLanHost& host);

    // The reply to `datagram`, received for `destination` (host order), or
    // nullopt when it gets none: it is no well-formed node-status query for
    // the name "*", the destination lies outside the prefix (is not the
    // host's address), or WideLan says the address stays silent.
    std::optional<std::vector<unsigned char>>
    Reply(const unsigned char* datagram, std::size_t length, std::uint32_t destination) const;

    // The transaction id of a well-formed node-status query for "*": one
    // question, no records, the name "*" padded with NUL bytes (a scope may
    // follow), type NBSTAT, class IN, and nothing after it.
    static std::optional<std::uint16_t> QueryId(const unsigned char* datagram, std::size_t length);

private:
    TestLanPrefix m_prefix;
    // Of a responder for one host (m_prefix is then that one address).
    bool m_oneHost = false;
    std::vector<TestLanName> m_names;
    std::array<unsigned char, 6> m_unitId{};
};
