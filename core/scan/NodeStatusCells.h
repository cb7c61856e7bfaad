#pragma once
// A host's value from a node-status answer and its MAC; the same for both
// engines and the diagnosis.

#include "core/scan/HostRecord.h"
#include "core/scan/ScanRequest.h"
#include "platform/wire/NodeStatusPacket.h"

// Takes the names and the MAC of a node-status answer into the value: the
// names a row takes (up to the first that starts with a zero byte, at most
// kNodeStatusMaxNames), decoded as the row shows them (UTF-8, control
// characters as '.'; the host's own messenger name left out when the options
// say so).
void TakeNodeStatus(HostRecord& record, const NodeStatusAnswer& answer,
                    const ScanOptions& options);

// A host's value from its answer alone (no echo, no neighbour entry): the
// answer taken, the vendor looked up, as the options say.
HostRecord HostOfAnswer(const NodeStatusAnswer& answer, const ScanOptions& options);

// Completes the value once its MAC is final: the MAC's maker, unless the
// options leave it out.
void TakeVendor(HostRecord& record, const ScanOptions& options);
