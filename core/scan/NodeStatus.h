#pragma once
// The names of one host's NetBIOS node-status answer as a result row shows
// them: computer name, domain (workgroup) name and the names registered for
// the messenger service.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// One entry of a node-status name table as the host sent it.
struct HostName {
    std::string name;        // the 15 name bytes (CP932), blanks kept
    unsigned char suffix = 0; // byte 16
    bool group = false;       // a group name (else a unique one)
    bool operator==(const HostName&) const = default;
};

// The most names a row takes from an answer: as many as the NetBIOS API's
// 600-byte answer buffer holds.
constexpr int kNodeStatusMaxNames = 30;

// The names of a name table as the row shows them (CP932, control bytes as
// '.'): the computer name (the last unique <00> name not beginning "IS~", up
// to its first blank), the domain (the same for group names), the <03> names
// with trailing blanks trimmed (without the host's own when `skipOwn`), and
// the last unique <00> name as it is.
struct NodeStatusNames {
    std::optional<std::string> computerName;
    std::optional<std::string> domainName;
    std::vector<std::string> messengerNames;
    std::string workstationName;
};
NodeStatusNames DecodeNodeStatusNames(const std::vector<HostName>& names, bool skipOwn);
