#pragma once
// The node-status request and reply of NetBIOS over TCP/IP (UDP port 137) as
// pure functions over bytes. The reply comes from the network, so the decoder
// trusts nothing in it: every read is bounded by the datagram and by the
// record's own length, and a datagram that fails any check is only ignored.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::size_t kNodeStatusRequestSize = 50;
// A name entry of the reply: 16 name bytes (the 16th the suffix) and the
// 16-bit NAME_FLAGS.
constexpr std::size_t kNodeStatusEntrySize = 18;
// The statistics block after the names; the unit id is its first six bytes.
constexpr std::size_t kNodeStatusStatisticsSize = 46;

// The request datagram: header with `transactionId`, flags 0, one question for
// the name '*' padded with NUL bytes, type NBSTAT (0x21), class IN.
std::array<unsigned char, kNodeStatusRequestSize>
BuildNodeStatusRequest(std::uint16_t transactionId);

// Why a datagram was not taken as the answer.
enum class NodeStatusReplyCheck {
    Accepted,         // the answer is valid; see NodeStatusVerdict::retcode
    Truncated,        // the datagram ends inside the header or the record
    WrongTransaction, // another transaction id (late, foreign or spoofed)
    NotResponse,      // response bit clear
    WrongOpcode,      // opcode other than 0 (query)
    ErrorCode,        // RCODE other than 0
    NoAnswer,         // ANCOUNT 0
    BadName,          // malformed record name (label, pointer or length)
    WrongType,        // record type other than NBSTAT
    WrongClass,       // record class other than IN
    BadLength,        // RDLENGTH beyond the datagram, or too small for its names
};

struct NodeStatusVerdict {
    NodeStatusReplyCheck check = NodeStatusReplyCheck::Truncated;
    unsigned namesInReply = 0; // Accepted only: the names the reply announces

    bool accepted() const { return check == NodeStatusReplyCheck::Accepted; }
};

// A valid answer as it came: each name's 16 bytes with its NAME_FLAGS, and the
// statistics as far as the record holds them (the unit id their first six
// bytes, zeros when the reply has none).
struct NodeStatusAnswer {
    struct Name {
        static constexpr std::uint16_t kGroup = 0x8000;
        static constexpr std::uint16_t kDeregistering = 0x1000;
        static constexpr std::uint16_t kConflict = 0x0800;
        static constexpr std::uint16_t kActive = 0x0400;

        std::array<unsigned char, 16> bytes{}; // 15 name bytes, then the suffix
        std::uint16_t flags = 0;               // NAME_FLAGS as sent

        bool group() const { return (flags & kGroup) != 0; }
        unsigned char suffix() const { return bytes[15]; }
    };
    std::array<unsigned char, 6> unitId{};
    std::vector<Name> names;
    std::array<unsigned char, kNodeStatusStatisticsSize> statistics{};
    std::size_t statisticsLength = 0; // bytes of `statistics` the reply carried
};

// Checks the reply datagram against `expectedId`; `answer` is filled when the
// verdict is accepted and left alone otherwise. `datagram` may be null when
// `length` is 0.
NodeStatusVerdict DecodeNodeStatusAnswer(const unsigned char* datagram, std::size_t length,
                                         std::uint16_t expectedId, NodeStatusAnswer& answer);

// Short English description of a check, for logs and test messages.
const char* NodeStatusReplyCheckName(NodeStatusReplyCheck check);
