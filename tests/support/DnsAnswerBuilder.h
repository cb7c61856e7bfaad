#pragma once
// Builds answer datagrams in the DNS format that mDNS and LLMNR share, shaped
// like those of real responders and open to change in every field, so that
// tests (and the test LAN's LLMNR responder) can break one thing at a time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct DnsRecord {
    using Bytes = std::vector<unsigned char>;

    // The owner's labels (bytes as they are; a label longer than 63 is
    // written with its length byte all the same). When it is the question's
    // name it is written as a pointer to the question, as responders do.
    std::vector<std::string> owner;
    std::uint16_t type = 12; // PTR
    std::uint16_t klass = 1; // IN
    std::uint32_t ttl = 30;
    std::vector<std::string> target; // the RDATA as a name
    // The RDATA as bytes instead, made knowing the offset it starts at (for
    // compression pointers).
    std::function<Bytes(std::size_t rdataAt)> rdata;
    std::optional<std::uint16_t> rdlength; // RDLENGTH when it should lie
};

class DnsAnswerBuilder {
public:
    using Bytes = std::vector<unsigned char>;
    using Labels = std::vector<std::string>;

    // An LLMNR responder's answer to BuildPtrQuery(address, id): a response
    // with the question repeated and one PTR record for `name`.
    static DnsAnswerBuilder Llmnr(std::uint16_t id, std::uint32_t address, std::string_view name);
    // A legacy unicast mDNS answer as mDNS responders send it: authoritative,
    // the question repeated, the record marked cache-flush.
    static DnsAnswerBuilder Mdns(std::uint16_t id, std::uint32_t address, std::string_view name);

    // "a.b.c" as {"a", "b", "c"}; "" as no label (the root).
    static Labels LabelsOf(std::string_view dotted);
    // The labels of "D.C.B.A.in-addr.arpa" for A.B.C.D (host byte order).
    static Labels ReverseLabels(std::uint32_t address);
    // The wire form of a name: each label after its length byte, then 0.
    static Bytes EncodedName(const Labels& labels);
    // A PTR record for `address` naming `name`.
    static DnsRecord Ptr(std::uint32_t address, std::string_view name);

    Bytes bytes() const;

    std::uint16_t id = 0;
    std::uint16_t flags = 0x8000;   // QR
    std::optional<Labels> question; // none when unset
    std::uint16_t qtype = 12;       // PTR
    std::uint16_t qclass = 1;       // IN
    std::vector<DnsRecord> answers;
    std::vector<DnsRecord> authority;
    std::vector<DnsRecord> additional;
    // The counts when they should lie.
    std::optional<std::uint16_t> qdcount, ancount, nscount, arcount;
};
