#pragma once
// The value a scan makes of a node-status answer (the vendor not looked
// up), for tests that check an answer as a row shows it (CellOf).

#include "core/scan/HostCells.h"
#include "core/scan/HostRecord.h"
#include "platform/wire/NodeStatusPacket.h"

HostRecord RowOfAnswer(const NodeStatusAnswer& answer, bool skipOwnMessengerName);
