#pragma once
// A host's LLMNR answers as bytes in and bytes out: a reverse (PTR) query for
// one of its addresses gets its name, an A query for its name gets its
// addresses, anything else gets nothing. For the tests of the program's
// reader it can also answer as a hostile host would. The socket around it is
// tests/lan/llmnr_responder.cpp.

#include "tests/support/DnsAnswerBuilder.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class LlmnrResponder {
public:
    enum class Behaviour {
        Honest,
        OtherAddress,      // the PTR record is for the next address, not the one asked
        ThousandNames,     // a thousand PTR records, each with a name of its own
        PointerLoop,       // the name is a compression pointer to itself
        LongName,          // 255 bytes of text: 257 on the wire, over the limit
        ControlCharacters, // the name carries a bell, a terminal escape and a line feed
    };

    // The behaviour of an option word: "honest", "other-address", "thousand",
    // "loop", "long-name", "control"; nullopt for another word.
    static std::optional<Behaviour> BehaviourNamed(std::string_view word);

    // `name` is dotted text ("host", "host.lan"); `addresses` in host order.
    LlmnrResponder(std::string_view name, std::vector<std::uint32_t> addresses,
                   Behaviour behaviour = Behaviour::Honest);

    // The reply to `datagram`, or nullopt when it gets none: it is no query
    // as an LLMNR sender makes it (a response, another opcode, not exactly
    // one question, records in the answer or authority section, a compressed
    // or malformed question name, class other than IN), or it asks for a
    // name or type this host does not answer.
    std::optional<std::vector<unsigned char>> Reply(const unsigned char* datagram,
                                                    std::size_t length) const;

private:
    DnsAnswerBuilder::Bytes PtrReply(const DnsAnswerBuilder& base, std::uint32_t address) const;

    DnsAnswerBuilder::Labels m_name;
    std::vector<std::uint32_t> m_addresses;
    Behaviour m_behaviour;
};
