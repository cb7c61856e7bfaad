#pragma once
// The NetBIOS operations of a scan: the node-status query of one address, the
// choice of the LANA at scan start, the count of usable LANAs at start-up and
// the LANA test of the options dialog. Each carries its NCBs through the
// Netbios function it is given: the platform's, unless a test passes its own.

#include "core/scan/NodeStatus.h"
#include "platform/win32/Netbios.h"
#include "platform/wire/NodeStatusPacket.h"
#include "platform/win32/Outcome.h"

#include <mutex>
#include <string>

using NetbiosFunction = UCHAR (*)(NCB*, const StopSignal*, NodeStatusAnswer*);
constexpr NetbiosFunction kPlatformNetbios = &Netbios;

// The answer buffer of a query: ADAPTER_STATUS and 30 NAME_BUFFERs.
constexpr int kNodeStatusBufferSize = 600;

// Asks the host at `address` (dotted IPv4 text) for its node status through
// `lana`'s low byte. Zero-fills `buffer` first and returns the return code;
// 0 means the buffer holds the answer as the NetBIOS API lays it out (and
// `answer`, when given, the same answer as a value). With a lock given,
// exactly the Netbios call is made while holding it. A text longer than 15
// bytes, or holding a zero byte, is no address: NRC_NOCALL, nothing is sent.
// A raised `stop` cuts the wait short: NRC_CMDCAN.
UCHAR QueryNodeStatus(const std::string& address, int lana, UCHAR (&buffer)[kNodeStatusBufferSize],
                      std::mutex* lockAroundCall = nullptr, const StopSignal* stop = nullptr,
                      NodeStatusAnswer* answer = nullptr,
                      NetbiosFunction netbios = kPlatformNetbios);

// The 16-byte call name of a query: the address text padded with blanks.
// False when the text does not fit 15 bytes or holds a zero byte.
bool MakeCallName(const std::string& address, UCHAR (&callName)[NCBNAMSZ]);

struct LanaSelection {
    int lana = 0;   // the first LANA that accepted a reset; 10 when none did
    UCHAR code = 0; // that reset's code (0), else the last failed one
};

// Resets LANA 0 to 10 in turn and stops at the first that answers 0.
LanaSelection SelectLana(NetbiosFunction netbios = kPlatformNetbios);

// How many of LANA 0 to 9 accept a reset; logs a line for each that does.
int CountResponsiveLanas(NetbiosFunction netbios = kPlatformNetbios);

// Resets the LANA typed into the options dialog (its leading digits; none
// means 0): ok when the reset returned 0, and either way the message that
// tells the user whether it can be used. Nothing is stored.
Outcome TestLana(const std::string& fieldText, NetbiosFunction netbios = kPlatformNetbios);
