// nbtstat: prints the NetBIOS name table of one remote host, asked by its
// IPv4 address, in the layout administrators know:
//
//   nbtstat -A 192.168.1.5
//
// The query goes through the same adapter choice and node-status query as a
// scan, so what this tool shows is what the program sees.

#include "platform/wire/DottedQuad.h"
#include "platform/win32/Netbios.h"
#include "platform/text/TextCodec.h"
#include "core/scan/CNetProbe.h"
#include "core/scan/NodeStatus.h"
#include "core/scan/NodeStatusQuery.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kExitNetbiosFailure = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: nbtstat -A <IPv4 address>\n"
    "\n"
    "Prints the NetBIOS name table of the host at the address (a node-status\n"
    "query over UDP port 137) and its adapter (MAC) address.\n"
    "  -A <address>  the remote host's dotted IPv4 address, e.g. 192.168.1.5\n"
    "  -a <address>  the same; host names are not looked up, only addresses\n"
    "Exit status: 0 with an answer, 1 when the host gave none, 2 on bad arguments.\n";

int Usage(const char* problem) {
    std::fprintf(stderr, "nbtstat: %s\n%s", problem, kUsage);
    return kExitUsage;
}

// Four decimal octets and nothing else; the same text goes into the query.
bool IsDottedAddress(const std::string& text) {
    std::uint32_t address = 0;
    return ParseDottedQuad(text, address);
}

// The 15 name bytes as terminal text, with the bytes that would steer the
// terminal as '.'. Blank padding is kept: one CP932 byte is one column.
std::string DisplayName(const UCHAR* name) {
    return Cp932ToUtf8(
        ControlBytesAsDots(std::string_view(reinterpret_cast<const char*>(name), 15)));
}

const char* StateText(UCHAR flags) {
    switch (flags & 0x07) {
    case REGISTERED:
        return "Registered";
    case DEREGISTERED:
        return "Deregistered";
    case DUPLICATE:
    case DUPLICATE_DEREG:
        return "Conflict";
    default:
        return "Registering";
    }
}

void PrintNameTable(const std::string& address, const UCHAR* buffer) {
    std::printf("\nNode IpAddress: [%s]\n\n", address.c_str());
    std::printf("           NetBIOS Remote Machine Name Table\n\n");
    std::printf("       Name               Type         Status\n");
    std::printf("    ---------------------------------------------\n");
    // The program's own rule for the table: stop at an empty entry, at most 30.
    const auto* entries = reinterpret_cast<const NAME_BUFFER*>(buffer + sizeof(ADAPTER_STATUS));
    int count = 0;
    for (; count < kNodeStatusMaxNames && entries[count].name[0] != 0; ++count) {
        const NAME_BUFFER& entry = entries[count];
        std::printf("    %s<%02X>  %-12s%s\n", DisplayName(entry.name).c_str(), entry.name[15],
                    (entry.name_flags & GROUP_NAME) ? "GROUP" : "UNIQUE",
                    StateText(entry.name_flags));
    }
    if (count == 0)
        std::printf("    No names in cache\n");
    const UCHAR* mac = reinterpret_cast<const ADAPTER_STATUS*>(buffer)->adapter_address;
    std::printf("\n    MAC Address = %02X-%02X-%02X-%02X-%02X-%02X\n\n", mac[0], mac[1], mac[2],
                mac[3], mac[4], mac[5]);
}

int Fail(const std::string& address, UCHAR code) {
    CNetProbe probe;
    std::fprintf(stderr, "nbtstat: %s: %s (0x%02X)\n", address.c_str(),
                 probe.NetbiosResultText(code).c_str(), code);
    return kExitNetbiosFailure;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 2 || (std::strcmp(argv[1], "-A") != 0 && std::strcmp(argv[1], "-a") != 0))
        return Usage("the only form is -A <address>");
    if (argc < 3)
        return Usage("-A needs an address");
    if (argc > 3)
        return Usage("too many arguments");
    const std::string address = argv[2];
    if (!IsDottedAddress(address))
        return Usage(("not a dotted IPv4 address: " + address).c_str());

    const LanaSelection lana = SelectLana();
    if (lana.code != NRC_GOODRET)
        return Fail(address, lana.code);

    UCHAR buffer[kNodeStatusBufferSize];
    const UCHAR code = QueryNodeStatus(address, lana.lana, buffer);
    if (code != NRC_GOODRET)
        return Fail(address, code);
    PrintNameTable(address, buffer);
    return 0;
}
