#pragma once
// The rows a scan of the test LAN must give with the stored defaults, worked
// out from the layout (tests/lan/testlan.conf) and, for the routed prefix,
// from WideLan's rule, and the names the event-driven engine must find with
// their sources. The LAN tests compare against these; the responder's
// --print-truth prints the rows for the benchmarks.

#include "core/ranges/AddressRange.h"
#include "core/scan/HostCells.h"
#include "core/scan/HostRecord.h"
#include "tests/lan/LlmnrResponder.h"
#include "tests/lan/TestLan.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

class TestLanTruth {
public:
    using NamesByAddress = std::map<std::string, std::vector<HostRecord::Name>>;

    // `rejecting`: the wide host's rejects are on (`testlan.sh reject`), so
    // the addresses TestLan::Rejected names answer nothing. `hostile`: the
    // mode the hostile hosts' LLMNR responders were put in (`testlan.sh
    // hostile MODE`); none: the layout's.
    explicit TestLanTruth(TestLan lan, bool rejecting = false,
                          std::optional<LlmnrResponder::Behaviour> hostile = std::nullopt);

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

    // Every name of `address` with its source, in the order HostRecord's
    // AllNames gives them: the computer name of its node-status answer, the
    // name its avahi-daemon answers, what the program's PTR reader takes of
    // its LLMNR responder's answer (a hostile one's refused, or cut to a few
    // names, or escaped), and its name in the DNS server. Whether the host
    // answers ping does not matter: the event-driven engine asks every host
    // that is there. Empty for an address nobody holds.
    std::vector<HostRecord::Name> NamesFor(std::uint32_t address) const;

    // The addresses whose names differ (missing, extra or changed), a line
    // each, at most `limit` of them; empty when they are the same.
    static std::string NameDifferences(const NamesByAddress& got, const NamesByAddress& wanted,
                                       std::size_t limit = 40);

private:
    TestLan m_lan;
    bool m_rejecting = false;
    std::optional<LlmnrResponder::Behaviour> m_hostile;
};
