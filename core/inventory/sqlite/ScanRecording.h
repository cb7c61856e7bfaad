#pragma once
// A finished scan as the inventory records it, the same from the window and
// from vopal-scan.

#include "core/inventory/sqlite/InventoryStore.h"
#include "core/scan/ScanRequest.h"

#include <cstdint>
#include <string>
#include <vector>

class MemoryResultList;

// The inventory's file in the program's data directory.
inline constexpr const char* kInventoryFileName = "inventory.sqlite";

// The options a scan ran with, as the inventory keeps them.
std::string ScanOptionsText(const ScanOptions& options);

// Unix time in milliseconds.
std::int64_t UnixTimeMs();

// The answering rows of `list` (response "○"), each with its value, with the
// scan's ranges, options and times.
RecordedScan RecordingOf(MemoryResultList& list, const std::vector<AddressRange>& ranges,
                         const ScanOptions& options, std::int64_t startedMs,
                         std::int64_t endedMs, bool complete);
