#pragma once
// NetBIOS as the program knows it from Windows: a synchronous Netbios() call
// on an NCB record, with the NCBRESET and NCBASTAT commands and the answer laid
// out as ADAPTER_STATUS followed by NAME_BUFFER entries. On Linux the LANA
// numbers are the machine's IPv4 interfaces and NCBASTAT is a node-status
// request over UDP port 137.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using UCHAR = unsigned char;
using PUCHAR = unsigned char*;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;

constexpr int NCBNAMSZ = 16;
constexpr int MAX_LANA = 254;

// Commands.
constexpr UCHAR NCBRESET = 0x32;
constexpr UCHAR NCBASTAT = 0x33;

// Return codes.
constexpr UCHAR NRC_GOODRET = 0x00;
constexpr UCHAR NRC_BUFLEN = 0x01;
constexpr UCHAR NRC_ILLCMD = 0x03;
constexpr UCHAR NRC_CMDTMO = 0x05;
constexpr UCHAR NRC_INCOMP = 0x06;
constexpr UCHAR NRC_BADDR = 0x07;
constexpr UCHAR NRC_SNUMOUT = 0x08;
constexpr UCHAR NRC_NORES = 0x09;
constexpr UCHAR NRC_SCLOSED = 0x0A;
constexpr UCHAR NRC_CMDCAN = 0x0B;
constexpr UCHAR NRC_DUPNAME = 0x0D;
constexpr UCHAR NRC_NAMTFUL = 0x0E;
constexpr UCHAR NRC_ACTSES = 0x0F;
constexpr UCHAR NRC_LOCTFUL = 0x11;
constexpr UCHAR NRC_REMTFUL = 0x12;
constexpr UCHAR NRC_ILLNN = 0x13;
constexpr UCHAR NRC_NOCALL = 0x14;
constexpr UCHAR NRC_NOWILD = 0x15;
constexpr UCHAR NRC_INUSE = 0x16;
constexpr UCHAR NRC_NAMERR = 0x17;
constexpr UCHAR NRC_SABORT = 0x18;
constexpr UCHAR NRC_NAMCONF = 0x19;
constexpr UCHAR NRC_IFBUSY = 0x21;
constexpr UCHAR NRC_TOOMANY = 0x22;
constexpr UCHAR NRC_BRIDGE = 0x23;
constexpr UCHAR NRC_CANOCCR = 0x24;
constexpr UCHAR NRC_CANCEL = 0x26;
constexpr UCHAR NRC_DUPENV = 0x30;
constexpr UCHAR NRC_ENVNOTDEF = 0x34;
constexpr UCHAR NRC_OSRESNOTAV = 0x35;
constexpr UCHAR NRC_MAXAPPS = 0x36;
constexpr UCHAR NRC_NOSAPS = 0x37;
constexpr UCHAR NRC_NORESOURCES = 0x38;
constexpr UCHAR NRC_INVADDRESS = 0x39;
constexpr UCHAR NRC_INVDDID = 0x3B;
constexpr UCHAR NRC_LOCKFAIL = 0x3C;
constexpr UCHAR NRC_OPENERR = 0x3F;
constexpr UCHAR NRC_SYSTEM = 0x40;
constexpr UCHAR NRC_PENDING = 0xFF;

// name_flags of a NAME_BUFFER.
constexpr UCHAR NAME_FLAGS_MASK = 0x87;
constexpr UCHAR GROUP_NAME = 0x80;
constexpr UCHAR UNIQUE_NAME = 0x00;
constexpr UCHAR REGISTERING = 0x00;
constexpr UCHAR REGISTERED = 0x04;
constexpr UCHAR DEREGISTERED = 0x05;
constexpr UCHAR DUPLICATE = 0x06;
constexpr UCHAR DUPLICATE_DEREG = 0x07;

struct NCB {
    UCHAR ncb_command;
    UCHAR ncb_retcode;
    UCHAR ncb_lsn;
    UCHAR ncb_num;
    PUCHAR ncb_buffer;
    WORD ncb_length;
    UCHAR ncb_callname[NCBNAMSZ];
    UCHAR ncb_name[NCBNAMSZ];
    UCHAR ncb_rto;
    UCHAR ncb_sto;
    void (*ncb_post)(NCB*);
    UCHAR ncb_lana_num;
    UCHAR ncb_cmd_cplt;
    UCHAR ncb_reserve[18];
    void* ncb_event;
};

struct ADAPTER_STATUS {
    UCHAR adapter_address[6];
    UCHAR rev_major;
    UCHAR reserved0;
    UCHAR adapter_type;
    UCHAR rev_minor;
    WORD duration;
    WORD frmr_recv;
    WORD frmr_xmit;
    WORD iframe_recv_err;
    WORD xmit_aborts;
    DWORD xmit_success;
    DWORD recv_success;
    WORD iframe_xmit_err;
    WORD recv_buff_unavail;
    WORD t1_timeouts;
    WORD ti_timeouts;
    DWORD reserved1;
    WORD free_ncbs;
    WORD max_cfg_ncbs;
    WORD max_ncbs;
    WORD xmit_buf_unavail;
    WORD max_dgram_size;
    WORD pending_sess;
    WORD max_cfg_sess;
    WORD max_sess;
    WORD max_sess_pkt_size;
    WORD name_count;
};
static_assert(sizeof(ADAPTER_STATUS) == 60, "ADAPTER_STATUS keeps its Windows layout");

struct NAME_BUFFER {
    UCHAR name[NCBNAMSZ];
    UCHAR name_num;
    UCHAR name_flags;
};
static_assert(sizeof(NAME_BUFFER) == 18, "NAME_BUFFER keeps its Windows layout");

class StopSignal;
struct NodeStatusAnswer;

// The port node-status queries go to.
constexpr std::uint16_t kNetbiosNamePort = 137;

// Where the commands go and what they read of the machine. The defaults are
// the machine's own; tests point them at loopback. The program has no option
// for them.
struct NetbiosTransport {
    std::uint16_t port = kNetbiosNamePort; // NCBASTAT's destination port
    // The LANA list, LANA 0 first, addresses in network byte order; unset:
    // the machine's interfaces (up, not loopback) in interface-index order.
    std::optional<std::vector<std::uint32_t>> lanas;
    // The neighbour table an all-zero unit id is looked up in.
    std::string arpTablePath = "/proc/net/arp";
};

// Dotted IPv4 texts as a LANA list; nullopt when one is not such an address.
std::optional<std::vector<std::uint32_t>> NetbiosLanaList(const std::vector<std::string>& texts);

// Runs the command synchronously; returns ncb_retcode, which it also sets.
UCHAR Netbios(NCB* ncb);

// The same; an NCBASTAT whose wait is cut short by `stop` (when given) ends at
// once with NRC_CMDCAN, as a cancelled command does.
UCHAR Netbios(NCB* ncb, const StopSignal* stop);

// The same; an NCBASTAT that got an answer also hands it over as the value it
// laid out in the buffer (when `answer` is given), so that a caller that
// wants the names and the MAC never reads them back out of the layout.
UCHAR Netbios(NCB* ncb, const StopSignal* stop, NodeStatusAnswer* answer);

// The same over `transport`; the calls above use the machine's own.
UCHAR Netbios(NCB* ncb, const StopSignal* stop, NodeStatusAnswer* answer,
              const NetbiosTransport& transport);

// NCBRESET: NRC_GOODRET for a LANA that exists, else NRC_BRIDGE.
// NCBASTAT: the call name is the dotted IPv4 address padded with blanks (or
// NULs). A host that does not answer, and one whose port 137 is closed (ICMP
// port unreachable, which ends the wait at once), gives NRC_CMDTMO; so does a
// target the machine has no route to. A socket that cannot be opened gives
// NRC_NORESOURCES, a LANA address that cannot be bound NRC_SYSTEM. A socket
// (or the neighbour table) that cannot be opened for want of descriptors or
// memory is also told to the user, once per process (DescriptorLimit.h).

// The IPv4 address (network byte order) of LANA `lana`: what NCBASTAT sends
// from. False when there is no such LANA.
bool NetbiosLanaAddress(int lana, std::uint32_t& address, const NetbiosTransport& transport = {});

// The port node-status queries go to on the network (the default transport's).
std::uint16_t NetbiosDestinationPort();
