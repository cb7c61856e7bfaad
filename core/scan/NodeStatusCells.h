#pragma once
// The cells a node-status answer fills in a row (MAC address, vendor,
// computer and domain names, messenger names), the same for both engines.

#include "core/scan/HostRecord.h"
#include "core/scan/ScanRequest.h"

#include <cstddef>

// `buffer` holds the answer as the NetBIOS call lays it out (ADAPTER_STATUS
// and its NAME_BUFFERs).
void FillNodeStatusCells(HostRecord& record, const unsigned char* buffer, std::size_t size,
                         const ScanOptions& options);

// The MAC address cell and, unless the options leave it out, the vendor cell.
void FillMacCells(HostRecord& record, const unsigned char mac[6], const ScanOptions& options);
