#pragma once
// The answer of one host's NetBIOS node-status query, decoded into the texts
// that fill a result row: adapter MAC, computer name, domain (workgroup) name
// and the names registered for the messenger service.

#include "core/scan/HostRecord.h"
#include "platform/win32/Netbios.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Every text holds the name bytes as the host sent them (CP932), not UTF-8,
// except that control bytes (0x01-0x1F, 0x7F) are shown as '.'.
struct NodeStatus {
    std::string macAddress;                  // 12 upper-case hex digits
    std::optional<std::string> computerName; // absent: no unique <00> name
    std::optional<std::string> domainName;   // absent: no group <00> name
    std::string messengerNames;              // <03> names joined by "/"
    std::string workstationName;             // last unique <00> name, "IS~" included
};

// A 600-byte answer buffer holds an ADAPTER_STATUS and this many NAME_BUFFERs.
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

// The entries of an answer buffer the names are read from: those wholly
// inside `length`, up to the first whose name starts with a zero byte, at
// most kNodeStatusMaxNames.
std::vector<HostName> NameTableOf(const UCHAR* buffer, std::size_t length);

// Decodes an answer buffer as filled by an NCBASTAT that returned 0. Reads
// nothing at or beyond `length`; bytes the buffer lacks count as zero.
// `skipOwnMessengerName` drops the <03> name equal to the workstation name.
NodeStatus DecodeNodeStatus(const UCHAR* buffer, std::size_t length, bool skipOwnMessengerName);
