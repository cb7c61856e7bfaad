#pragma once
// Asking a host itself for its name: a reverse (PTR) query for its address,
// sent straight to the host over mDNS (a "legacy unicast" query from an
// ephemeral port to UDP 5353) or LLMNR (UDP 5355), and the reading of its
// answer, as pure functions over bytes. The answer comes from the network, so
// the reader trusts nothing in it: every read is bounded by the datagram and
// by the record's own length, compression pointers lead backwards only, and
// each name it gives is plain text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint16_t kMdnsPort = 5353;
constexpr std::uint16_t kLlmnrPort = 5355;

// No more names than this are kept from one answer, however many records it
// holds: a host has a name or two, and a thousand records must not make a
// thousand names.
constexpr std::size_t kPtrAnswerMaxNames = 8;

// Whom the query went to. The query is the same; the answers differ a little:
// an mDNS responder may leave the question out and mark its records with the
// cache-flush bit, an LLMNR responder repeats the question and marks a name
// that it has not yet proven unique as tentative.
enum class PtrProtocol { Mdns, Llmnr };

// The name a PTR query asks for: "7.0.18.198.in-addr.arpa" for 198.18.0.7
// (`address` in host byte order, first octet most significant).
std::string ReverseName(std::uint32_t address);

// The query datagram: header with `id`, all flags clear (a standard query,
// no recursion; for LLMNR neither conflict nor tentative), one question for
// ReverseName(address), type PTR, class IN, and nothing else.
std::vector<unsigned char> BuildPtrQuery(std::uint32_t address, std::uint16_t id);

// Why a datagram was not taken as the answer.
enum class PtrAnswerCheck {
    Accepted,
    Truncated,          // the datagram ends inside the header, a name or a record,
                        // or a count or length runs past its end
    WrongId,            // another id (late, foreign or spoofed)
    NotResponse,        // response bit clear
    WrongOpcode,        // opcode other than 0 (query)
    ErrorCode,          // RCODE other than 0 (no such name, refused, ...)
    ResponderTruncated, // TC set: the responder had more than it sent
    Tentative,          // LLMNR: the responder has not proven the name unique
    WrongQuestion,      // no question, several, or not the one we asked
    BadName,            // a label type that does not exist (a label over 63
                        // bytes included), a name over 255 bytes, a pointer
                        // forwards, into the header or one hop too many
    BadLength,          // a PTR record whose name does not fill its RDLENGTH
    ForeignAnswer,      // a PTR record for another name than the one asked
    NoAnswer,           // no PTR record that names the address
};

// The verdict and, when accepted, the names as plain text in the order of
// the records (at most kPtrAnswerMaxNames, each once). Each name is its labels
// joined by '.', as sent (an mDNS name keeps its ".local", the name by which
// the host answers), with the escapes of DNS zone files inside a label: "\."
// for a dot and "\\" for a backslash, so that a label cannot pose as two, and
// "\DDD" (three decimal digits for each byte) for a control character (C0,
// DEL and C1). Well-formed UTF-8 stays as it is; each byte that starts no
// well-formed sequence becomes U+FFFD.
struct PtrAnswer {
    PtrAnswerCheck check = PtrAnswerCheck::Truncated;
    std::vector<std::string> names;
    unsigned namesInAnswer = 0; // PTR records for the question (kept or not)

    bool accepted() const { return check == PtrAnswerCheck::Accepted; }
};

// Reads the answer to BuildPtrQuery(address, expectedId). Every record of the
// datagram must be whole. The PTR records of class IN in the answer section
// (for mDNS with or without the cache-flush bit) must be for the name asked
// (case aside) and are read; a PTR record that names the root is no name.
// Other records are only stepped over. `datagram` may be null when `length`
// is 0.
PtrAnswer ReadPtrAnswer(const unsigned char* datagram, std::size_t length, std::uint16_t expectedId,
                        std::uint32_t address, PtrProtocol protocol);

// Short English description of a check, for logs and test messages.
const char* PtrAnswerCheckName(PtrAnswerCheck check);
