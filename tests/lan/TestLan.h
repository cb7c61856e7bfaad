#pragma once
// The layout of the test LAN (tests/lan/testlan.conf), the same file from
// which scripts/testlan.sh builds it, and what its hosts are expected to
// answer. LAN tests compute every expectation from here.

#include "core/scan/HostRecord.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One name of a host's NetBIOS name table.
struct TestLanName {
    std::string name; // without padding
    unsigned char suffix = 0;
    bool group = false;

    auto operator<=>(const TestLanName&) const = default;
};

// An IPv4 prefix, addresses in host byte order.
struct TestLanPrefix {
    std::uint32_t network = 0;
    int length = 32;

    bool Contains(std::uint32_t address) const;
    std::uint32_t Last() const;
    std::string Text() const; // "198.19.0.0/16"
    // "a.b.c.d/n" with no host bits set; nullopt otherwise.
    static std::optional<TestLanPrefix> Parse(const std::string& text);
};

struct TestLanHost {
    // The quiet hosts: NoPing runs nmbd behind a firewall that drops echo
    // requests; ArpOnly drops every IPv4 packet (only ARP answers); Closed
    // drops echo requests and has UDP 137 closed (port unreachable); Slow
    // answers ping, and node-status queries late (nbns_responder --host).
    // Hosts named by other sources than NetBIOS (`otherNames`): Named answers
    // ping and has UDP 137 closed, NamedNoPing drops echo requests as well,
    // NmbdNamed runs nmbd besides, Dns is the LAN's DNS server, Hostile's
    // LLMNR responder answers as `hostileMode` says.
    enum class Role {
        Client,
        Nmbd,
        PingOnly,
        Silent,
        Wide,
        NoPing,
        ArpOnly,
        Closed,
        Slow,
        Named,
        NamedNoPing,
        NmbdNamed,
        Dns,
        Hostile
    };

    Role role = Role::Silent;
    std::string address;   // dotted text
    std::string mac;       // "02:4b:44:00:00:0a", empty for a silent address
    std::string name;      // NetBIOS name of a host that has one (HasNames)
    std::string workgroup; // of such a host
    std::vector<std::string> aliases;
    TestLanPrefix routed; // of the wide host: the prefix it answers for
    // Its names from mDNS (avahi-daemon's host name, ".local" included), LLMNR
    // (our responder's) and DNS (a record of the dns host's server), at most
    // one of each source, in the order of the layout.
    std::vector<HostRecord::Name> otherNames;
    // Of a hostile host: the mode its LLMNR responder starts in
    // ("other-address", ...: llmnr_responder --behave).
    std::string hostileMode;

    // The MAC as the program shows it: 12 upper-case hex digits.
    std::string MacHex() const;
    // The adapter address as 6 bytes; zeros for a silent address.
    std::array<unsigned char, 6> MacBytes() const;

    // Whether its node-status answer carries the layout's name table: an
    // nmbd host, with or without ping or other names, and the slow host.
    bool HasNames() const;

    // Its name of that source in `otherNames`; empty when it has none.
    std::string OtherName(HostRecord::NameSource source) const;

    // What nmbd registers, in the order it lists them: for the name and each
    // alias <00>, <03> and <20> unique; for the workgroup <00> and <1E> group
    // (browser elections are off, so no <1D> or __MSBROWSE__). The slow
    // host's responder answers with the same table. Empty where !HasNames().
    std::vector<TestLanName> RegisteredNames() const;
};

class TestLan {
public:
    // Reads a layout file; on failure gives nullopt and says why in `error`.
    static std::optional<TestLan> Load(const std::string& path, std::string& error);

    // $KD_TESTLAN_CONF when set, else the layout file of the source tree.
    static std::string DefaultPath();

    const std::vector<TestLanHost>& hosts() const { return m_hosts; }
    std::vector<TestLanHost> WithRole(TestLanHost::Role role) const;
    const TestLanHost& client() const;
    // The host that holds the routed prefix; null when the layout has none.
    const TestLanHost* wide() const;
    // The LAN's DNS server; null when the layout has none.
    const TestLanHost* dns() const;
    // The host at `address` (dotted text); null for an address not listed.
    const TestLanHost* Find(const std::string& address) const;

    // With `testlan.sh reject`: whether the wide host answers echo requests
    // and node-status queries for `address` with ICMP errors from its own
    // address instead (host unreachable, port unreachable). That is every
    // odd address (last octet odd) of an odd /24 (third octet odd) of the
    // routed prefix, so that errors and answers alternate; such an address
    // must come out as if nobody held it.
    bool Rejected(std::uint32_t address) const;

    // True when this process runs where the client's address is configured,
    // i.e. inside the client namespace; tests send nothing anywhere else.
    bool InClientNamespace() const;

private:
    std::vector<TestLanHost> m_hosts;
};
