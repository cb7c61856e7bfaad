#pragma once
// The node-status request and reply of NetBIOS over TCP/IP (UDP port 137) as
// pure functions over bytes. The reply comes from the network, so the decoder
// trusts nothing in it: every read is bounded by the datagram and by the
// record's own length, and a datagram that fails any check is only ignored.

#include "platform/Netbios.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::size_t kNodeStatusRequestSize = 50;
constexpr std::size_t kAdapterStatusSize = sizeof(ADAPTER_STATUS); // 60
constexpr std::size_t kNameBufferSize = sizeof(NAME_BUFFER);       // 18

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
    // Accepted only: NRC_GOODRET; NRC_BUFLEN (buffer shorter than the
    // 60-byte header, left untouched); NRC_INCOMP (more names than fit: the
    // buffer holds the header and as many whole entries as fit).
    UCHAR retcode = NRC_GOODRET;
    // Accepted only: names announced by the reply, and names laid out.
    unsigned namesInReply = 0;
    unsigned namesStored = 0;

    bool accepted() const { return check == NodeStatusReplyCheck::Accepted; }
};

// Checks the reply datagram against `expectedId` and, when it is a valid
// answer, lays it out in `buffer` as ADAPTER_STATUS (adapter_address = the
// unit id, zeros when the reply has none; name_count = entries stored; the
// statistics the reply carries) followed by NAME_BUFFER entries (name bytes
// as received, name_num counting from 1, name_flags = GROUP_NAME from the G
// bit | registration state), zero-filled to `bufferLength`. When the datagram
// is not accepted the buffer is not touched. `datagram` may be null when
// `length` is 0.
NodeStatusVerdict DecodeNodeStatusReply(const unsigned char* datagram, std::size_t length,
                                        std::uint16_t expectedId, unsigned char* buffer,
                                        std::size_t bufferLength);

// A valid answer read straight from the datagram, for a caller that needs no
// NetBIOS layout: the unit id (zeros when the reply has none) and each name's
// 16 bytes with its NAME_BUFFER name_flags.
struct NodeStatusAnswer {
    struct Name {
        std::array<unsigned char, 16> bytes{};
        UCHAR flags = 0;
    };
    std::array<unsigned char, 6> unitId{};
    std::vector<Name> names;
};

// The same checks as DecodeNodeStatusReply; `answer` is filled when the
// verdict is accepted (retcode NRC_GOODRET; namesStored = every name).
NodeStatusVerdict DecodeNodeStatusAnswer(const unsigned char* datagram, std::size_t length,
                                         std::uint16_t expectedId, NodeStatusAnswer& answer);

// The NAME_BUFFER name_flags for the 16-bit NAME_FLAGS of a reply entry.
UCHAR NameFlagsFromReply(std::uint16_t replyFlags);

// Short English description of a check, for logs and test messages.
const char* NodeStatusReplyCheckName(NodeStatusReplyCheck check);
