#pragma once
// The rows a scan of the test LAN must give with the stored defaults, worked
// out from the layout (tests/lan/testlan.conf) and, for the routed prefix,
// from WideLan's rule. The LAN tests compare against these; the responder's
// --print-truth prints them for the benchmarks.

#include "core/ranges/AddressRange.h"
#include "core/scan/HostCells.h"
#include "core/scan/HostRecord.h"
#include "tests/lan/TestLan.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TestLanTruth {
public:
    // `rejecting`: the wide host's rejects are on (`testlan.sh reject`), so
    // the addresses TestLan::Rejected names answer nothing.
    explicit TestLanTruth(TestLan lan, bool rejecting = false);

    // The row of a host that answered ping and then the node-status query
    // with `names` and the unit id `macHex`; empty `names`: it answered no
    // query (port unreachable, or silence), so the row has no more cells.
    static HostRecord AnsweredRow(std::uint32_t address, const std::string& macHex,
                                  const std::vector<TestLanName>& names);

    // The row a scan gives `address`; nullopt where it gives none: an
    // address the scan skips (an octet 255, or a last octet 0), or one that
    // does not answer ping unless `keepSilent`. Rows follow the echo: the
    // quiet hosts that drop it (noping, arponly, closed) are silent here.
    std::optional<HostRecord> RowFor(std::uint32_t address, bool keepSilent) const;

    // Every row of a scan of `range`, in address order.
    std::vector<HostRecord> Rows(const AddressRange& range, bool keepSilent) const;

    // A row's cells as the export text writes them ("-" for an empty cell).
    static std::vector<std::string> Printed(const HostRecord& row);

private:
    TestLan m_lan;
    bool m_rejecting = false;
};
