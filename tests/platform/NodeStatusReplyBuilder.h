#pragma once
// Builds node-status reply datagrams shaped like those of real hosts, with
// every field open to change so that tests can break one thing at a time.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct ReplyName {
    std::string name;     // up to 15 bytes, padded with blanks
    unsigned char suffix; // byte 16
    std::uint16_t flags;  // NAME_FLAGS as sent
};

class NodeStatusReplyBuilder {
public:
    NodeStatusReplyBuilder();

    // A table like that of a Windows workstation: PC-01<00>, WORKGROUP<00>
    // (group), PC-01<20>, PC-01<03>, ADMIN<03>, WORKGROUP<1E> (group).
    static NodeStatusReplyBuilder Workstation(std::uint16_t id);
    // The bytes of Workstation(id) after `change`, so a test can break one field.
    static std::vector<unsigned char>
    WorkstationBytes(std::uint16_t id,
                     const std::function<void(NodeStatusReplyBuilder&)>& change = nullptr);

    std::vector<unsigned char> bytes() const;

    // The 32-letter first-level encoding of 16 name bytes, with its length
    // byte and the closing 0x00.
    static std::vector<unsigned char> EncodedName(const std::string& name16);

    std::uint16_t id = 0x1234;
    std::uint16_t flags = 0x8400;
    std::uint16_t qdcount = 0;
    std::uint16_t ancount = 1;
    std::vector<unsigned char> question; // placed before the answer when set
    std::vector<unsigned char> rrName;   // the encoded '*' name by default
    std::uint16_t type = 0x0021;
    std::uint16_t klass = 0x0001;
    std::vector<ReplyName> names;
    std::optional<unsigned> numNames; // NUM_NAMES when it should lie
    std::array<unsigned char, 6> unitId{};
    std::size_t statisticsLength = 46;     // bytes of the statistics block sent
    std::optional<std::uint16_t> rdlength; // RDLENGTH when it should lie
};
