#pragma once
// The names other sources than node status gave a host, as both stores keep
// them in a text column: empty for none (so a host that only node status
// named is kept as it always was), else a compact JSON array. Read back
// leniently: a hand-edited or damaged text loses the names it cannot read,
// never the row; names come back as plain text, of a known source, not empty.

#include "core/inventory/ScanChanges.h"
#include "core/scan/HostRecord.h"

#include <string>
#include <string_view>
#include <vector>

// A row's names: [["mdns","pc.local"],["dns","pc.example.org"]].
std::string NamesText(const std::vector<HostRecord::Name>& names);
std::vector<HostRecord::Name> NamesOfText(std::string_view text);

// A host's names learnt, with their addresses: [[167772161,"dns","pc.example.org"]].
std::string LearntNamesText(const std::vector<LearntName>& names);
std::vector<LearntName> LearntNamesOfText(std::string_view text);
