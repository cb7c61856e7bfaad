#include "tests/lan/TestLan.h"

#include "tests/lan/LlmnrResponder.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <regex>
#include <sstream>

namespace {

bool ParseRole(const std::string& text, TestLanHost::Role& role) {
    if (text == "client")
        role = TestLanHost::Role::Client;
    else if (text == "nmbd")
        role = TestLanHost::Role::Nmbd;
    else if (text == "ping")
        role = TestLanHost::Role::PingOnly;
    else if (text == "silent")
        role = TestLanHost::Role::Silent;
    else if (text == "wide")
        role = TestLanHost::Role::Wide;
    else if (text == "noping")
        role = TestLanHost::Role::NoPing;
    else if (text == "arponly")
        role = TestLanHost::Role::ArpOnly;
    else if (text == "closed")
        role = TestLanHost::Role::Closed;
    else if (text == "slow")
        role = TestLanHost::Role::Slow;
    else if (text == "named")
        role = TestLanHost::Role::Named;
    else if (text == "named-noping")
        role = TestLanHost::Role::NamedNoPing;
    else if (text == "nmbd-named")
        role = TestLanHost::Role::NmbdNamed;
    else if (text == "dns")
        role = TestLanHost::Role::Dns;
    else if (text == "hostile")
        role = TestLanHost::Role::Hostile;
    else
        return false;
    return true;
}

// Only addresses of the test range are ever accepted.
bool InTestRange(const std::string& text) {
    in_addr parsed;
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return false;
    const uint32_t host = ntohl(parsed.s_addr);
    return (host & 0xFFFFFF00u) == 0xC6120000u && (host & 0xFFu) != 0 && (host & 0xFFu) != 255;
}

std::uint32_t HostBits(int length) {
    return length >= 32 ? 0u : 0xFFFFFFFFu >> length;
}

// A routed prefix must lie in 198.18.0.0/15 beside the LAN's own /24.
bool RoutedPrefixAllowed(const TestLanPrefix& prefix) {
    const TestLanPrefix testRange{0xC6120000u, 15};
    const TestLanPrefix lan{0xC6120000u, 24};
    return prefix.length >= 16 && prefix.length <= 30 && testRange.Contains(prefix.network) &&
           !prefix.Contains(lan.network) && !lan.Contains(prefix.network);
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, ','))
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

bool TakesOtherNames(TestLanHost::Role role) {
    using Role = TestLanHost::Role;
    return role == Role::Named || role == Role::NamedNoPing || role == Role::NmbdNamed ||
           role == Role::Dns || role == Role::Hostile;
}

// The names column: "-", or SOURCE:NAME entries separated by commas, at most
// one of each source, each spelt as that source's responder needs it.
bool ParseOtherNames(const std::string& text, std::vector<HostRecord::Name>& names,
                     std::string& error) {
    if (text == "-")
        return true;
    static const std::string label = "[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?";
    static const std::regex mdns("^" + label + "\\.local$"), llmnr("^" + label + "$"),
        dns("^" + label + "(\\." + label + ")+$");
    for (const std::string& entry : SplitCommas(text)) {
        const std::size_t colon = entry.find(':');
        HostRecord::Name name;
        name.text = colon == std::string::npos ? "" : entry.substr(colon + 1);
        const std::string source = entry.substr(0, colon);
        const bool good =
            HostRecord::SourceOf(source, name.source) &&
            ((name.source == HostRecord::NameSource::Mdns && std::regex_match(name.text, mdns)) ||
             (name.source == HostRecord::NameSource::Llmnr && std::regex_match(name.text, llmnr)) ||
             (name.source == HostRecord::NameSource::Dns && std::regex_match(name.text, dns) &&
              name.text.size() <= 255));
        if (!good) {
            error = "bad name " + entry + " (mdns:LABEL.local, llmnr:LABEL, dns:NAME)";
            return false;
        }
        for (const HostRecord::Name& other : names)
            if (other.source == name.source) {
                error = "a second " + source + " name";
                return false;
            }
        names.push_back(name);
    }
    return true;
}

} // namespace

bool TestLanPrefix::Contains(std::uint32_t address) const {
    return address >= network && address <= Last();
}

std::uint32_t TestLanPrefix::Last() const {
    return network | HostBits(length);
}

std::string TestLanPrefix::Text() const {
    in_addr address{htonl(network)};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return std::string(text) + "/" + std::to_string(length);
}

std::optional<TestLanPrefix> TestLanPrefix::Parse(const std::string& text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos)
        return std::nullopt;
    in_addr address;
    if (inet_pton(AF_INET, text.substr(0, slash).c_str(), &address) != 1)
        return std::nullopt;
    const std::string bits = text.substr(slash + 1);
    if (bits.empty() || bits.size() > 2 ||
        bits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    TestLanPrefix prefix{ntohl(address.s_addr), std::stoi(bits)};
    if (prefix.length > 32 || (prefix.network & HostBits(prefix.length)) != 0)
        return std::nullopt;
    return prefix;
}

std::string TestLanHost::MacHex() const {
    std::string hex;
    for (char c : mac)
        if (c != ':')
            hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;
}

std::array<unsigned char, 6> TestLanHost::MacBytes() const {
    std::array<unsigned char, 6> bytes{};
    const std::string hex = MacHex();
    for (std::size_t i = 0; i < bytes.size() && 2 * i + 2 <= hex.size(); ++i)
        bytes[i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return bytes;
}

bool TestLanHost::HasNames() const {
    return role == Role::Nmbd || role == Role::NoPing || role == Role::Slow ||
           role == Role::NmbdNamed;
}

std::string TestLanHost::OtherName(HostRecord::NameSource source) const {
    for (const HostRecord::Name& name : otherNames)
        if (name.source == source)
            return name.text;
    return "";
}

std::vector<TestLanName> TestLanHost::RegisteredNames() const {
    std::vector<TestLanName> names;
    if (!HasNames())
        return names;
    std::vector<std::string> own{name};
    own.insert(own.end(), aliases.begin(), aliases.end());
    for (const std::string& n : own)
        for (unsigned char suffix : {0x00, 0x03, 0x20})
            names.push_back({n, suffix, false});
    names.push_back({workgroup, 0x00, true});
    names.push_back({workgroup, 0x1E, true});
    return names;
}

std::optional<TestLan> TestLan::Load(const std::string& path, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    TestLan lan;
    int clients = 0;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream fields(line);
        std::string role, address, mac, name, workgroup, aliases, others, extra;
        if (!(fields >> role))
            continue;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (!(fields >> address >> mac >> name >> workgroup >> aliases) ||
            ((fields >> others) && (fields >> extra))) {
            error = where + "expected 6 fields and the names column";
            return std::nullopt;
        }
        if (others.empty())
            others = "-";
        TestLanHost host;
        if (!ParseRole(role, host.role)) {
            error = where + "unknown role " + role;
            return std::nullopt;
        }
        if (!InTestRange(address)) {
            error = where + address + " is not a host address of 198.18.0.0/24";
            return std::nullopt;
        }
        host.address = address;
        host.mac = mac == "-" ? "" : mac;
        if (host.HasNames()) {
            host.name = name;
            host.workgroup = workgroup;
            if (aliases != "-")
                host.aliases = SplitCommas(aliases);
        }
        if (host.role == TestLanHost::Role::Wide) {
            const auto routed = TestLanPrefix::Parse(name);
            if (!routed || !RoutedPrefixAllowed(*routed)) {
                error = where + name + " is no prefix of 198.18.0.0/15 beside 198.18.0.0/24";
                return std::nullopt;
            }
            if (lan.wide()) {
                error = where + "a second wide host";
                return std::nullopt;
            }
            host.routed = *routed;
        }
        if (others != "-" && !TakesOtherNames(host.role)) {
            error = where + "a " + role + " host has no names column";
            return std::nullopt;
        }
        std::string problem;
        if (!ParseOtherNames(others, host.otherNames, problem)) {
            error = where + problem;
            return std::nullopt;
        }
        if (host.role == TestLanHost::Role::Hostile) {
            host.hostileMode = name;
            if (!LlmnrResponder::BehaviourNamed(name)) {
                error = where + name + " is no mode of the LLMNR responder";
                return std::nullopt;
            }
            if (host.otherNames.size() != 1 ||
                host.otherNames.front().source != HostRecord::NameSource::Llmnr) {
                error = where + "a hostile host has one name: its LLMNR name";
                return std::nullopt;
            }
        }
        if (host.role == TestLanHost::Role::Dns && lan.dns()) {
            error = where + "a second dns host";
            return std::nullopt;
        }
        if (host.role == TestLanHost::Role::Client)
            ++clients;
        lan.m_hosts.push_back(host);
    }
    if (clients != 1) {
        error = path + ": exactly one client line is needed";
        return std::nullopt;
    }
    for (const TestLanHost& host : lan.m_hosts)
        if (!lan.dns() && !host.OtherName(HostRecord::NameSource::Dns).empty()) {
            error = path + ": DNS names need a dns host";
            return std::nullopt;
        }
    return lan;
}

std::string TestLan::DefaultPath() {
    if (const char* path = std::getenv("KD_TESTLAN_CONF"); path && *path)
        return path;
    return KD_TESTLAN_CONF_PATH;
}

std::vector<TestLanHost> TestLan::WithRole(TestLanHost::Role role) const {
    std::vector<TestLanHost> hosts;
    for (const TestLanHost& host : m_hosts)
        if (host.role == role)
            hosts.push_back(host);
    return hosts;
}

const TestLanHost& TestLan::client() const {
    for (const TestLanHost& host : m_hosts)
        if (host.role == TestLanHost::Role::Client)
            return host;
    return m_hosts.front(); // Load guarantees one client
}

const TestLanHost* TestLan::wide() const {
    for (const TestLanHost& host : m_hosts)
        if (host.role == TestLanHost::Role::Wide)
            return &host;
    return nullptr;
}

const TestLanHost* TestLan::dns() const {
    for (const TestLanHost& host : m_hosts)
        if (host.role == TestLanHost::Role::Dns)
            return &host;
    return nullptr;
}

const TestLanHost* TestLan::Find(const std::string& address) const {
    for (const TestLanHost& host : m_hosts)
        if (host.address == address)
            return &host;
    return nullptr;
}

bool TestLan::Rejected(std::uint32_t address) const {
    const TestLanHost* host = wide();
    return host && host->routed.Contains(address) && ((address >> 8) & 1u) != 0 && (address & 1u) != 0;
}

bool TestLan::InClientNamespace() const {
    in_addr wanted;
    if (inet_pton(AF_INET, client().address.c_str(), &wanted) != 1)
        return false;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (ifaddrs* a = list; a && !found; a = a->ifa_next) {
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET)
            found = reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr == wanted.s_addr;
    }
    freeifaddrs(list);
    return found;
}
