#pragma once
// The answer of one host's NetBIOS node-status query, decoded into the texts
// that fill a result row: adapter MAC, computer name, domain (workgroup) name
// and the names registered for the messenger service.

#include "platform/Netbios.h"

#include <cstddef>
#include <optional>
#include <string>

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

// Decodes an answer buffer as filled by an NCBASTAT that returned 0. Reads
// nothing at or beyond `length`; bytes the buffer lacks count as zero.
// `skipOwnMessengerName` drops the <03> name equal to the workstation name.
NodeStatus DecodeNodeStatus(const UCHAR* buffer, std::size_t length, bool skipOwnMessengerName);
