#pragma once
// The machine's own probes for a test, as the program makes them at
// start-up: an echo service of the test's own (its socket choice, helper and
// ids) and the real probes over it. Tests that script their hosts use
// scripted probes instead.

#include "core/scan/RealScanProbes.h"
#include "platform/win32/IcmpEcho.h"

#include <string>

struct MachineProbes {
    // `helperPath`: where raw ICMP sockets come from; empty: no helper.
    explicit MachineProbes(const std::string& helperPath = "") : echo(helperPath) {}

    IcmpEchoService echo;
    RealScanProbes probes{echo};
};
