#pragma once
// A host's value from a node-status answer, and the cells of its row made
// from its value; the same for both engines.

#include "core/scan/HostRecord.h"
#include "core/scan/ScanRequest.h"
#include "platform/wire/NodeStatusPacket.h"

#include <cstddef>

// Takes the name table and the MAC of an answer laid out as the NetBIOS call
// lays it out (ADAPTER_STATUS and its NAME_BUFFERs) into the value.
void TakeNodeStatus(HostRecord& record, const unsigned char* buffer, std::size_t size);
// The same from an answer read straight from its datagram: the names that the
// layout would hold (up to the first that starts with a zero byte).
void TakeNodeStatus(HostRecord& record, const NodeStatusAnswer& answer);

// The cells the value gives: the address, and, when known, the MAC with its
// vendor (unless the options leave it out) and the names of a node-status
// answer (the host's own messenger name left out when the options say so).
// The response cell is the engine's to set.
void MakeCells(HostRecord& record, const ScanOptions& options);
