// vopal-scan's JSON Lines: each line's values, hostile names that stay one
// valid line of plain UTF-8 text, and every line checked against the schema
// in docs/ by a real validator.

#include "core/inventory/JsonReport.h"
#include "core/scan/HostCells.h"
#include "core/scan/NodeStatusCells.h"
#include "tests/support/JsonLinesValidator.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

HostRecord Row(std::array<std::string, HostRecord::kColumnCount> cells, unsigned reasons = 0,
               int rttMs = -1) {
    HostRecord row = RecordOfCells(cells);
    row.reasons = reasons;
    row.rttMs = rttMs;
    return row;
}

// The line as a value, after checking it is one line.
Json Parsed(const std::string& line) {
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    return Json::parse(line);
}

const std::string kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// A scan's row as the engines make it: the cells from the name table once,
// and the JSON from the value, so a messenger name holding '/' stays one
// name and the address and MAC come from their numbers.
TEST(JsonReport, AScansRowIsWrittenFromItsValueNotFromItsCells) {
    const auto entry = [](const std::string& name, unsigned char suffix, bool group) {
        NodeStatusAnswer::Name n;
        n.bytes.fill(' ');
        std::copy(name.begin(), name.end(), n.bytes.begin());
        n.bytes[15] = suffix;
        n.flags = NodeStatusAnswer::Name::kActive | (group ? NodeStatusAnswer::Name::kGroup : 0);
        return n;
    };
    const struct {
        bool ignoreWorkstation;
        const char* cells;      // computer|domain|MAC|messengers
        const char* messengers; // the JSON array
    } cases[] = {
        {false, "PC01|WG|00000C010203|PC01/A/B/C", R"(["PC01","A/B","C"])"},
        {true, "PC01|WG|00000C010203|A/B/C", R"(["A/B","C"])"},
    };
    for (const auto& c : cases) {
        HostRecord row;
        row.address = 0xC6120007; // 198.18.0.7
        row.response = HostRecord::Response::Answered;
        row.reasons = HostRecord::kReasonEcho | HostRecord::kReasonNbstat;
        row.rttMs = 1;
        NodeStatusAnswer answer;
        answer.unitId = {0x00, 0x00, 0x0C, 0x01, 0x02, 0x03};
        answer.names = {entry("IS~PC01", 0x00, false), entry("PC01", 0x00, false),
                        entry("WG", 0x00, true), entry("PC01", 0x03, false),
                        entry("A/B", 0x03, false), entry("C", 0x03, false)};
        ScanOptions options;
        options.ignoreWorkstation = c.ignoreWorkstation;
        TakeNodeStatus(row, answer, options);
        TakeVendor(row, options);
        const HostCells cells = CellsOf(row);
        EXPECT_EQ(cells[HostRecord::kAddress], "198.18.0.7");
        EXPECT_EQ(cells[2] + "|" + cells[3] + "|" + cells[4] + "|" + cells[6],
                  c.cells);
        const std::string line = RowJsonLine(row);
        EXPECT_EQ(JsonLinesValidator::VopalScanProblems(line), "");
        const Json parsed = Parsed(line);
        EXPECT_EQ(parsed["messengers"], Json::parse(c.messengers));
        EXPECT_EQ(parsed["address"], "198.18.0.7");
        EXPECT_EQ(parsed["mac"], "00000C010203");
        EXPECT_EQ(parsed["name"], "PC01");
    }
}

TEST(JsonReport, RowsCarryTheValuesWithHostileNamesAsPlainText) {
    using R = HostRecord;
    const struct {
        HostRecord row;
        const char* expected; // the line's keys after type and schema
    } cases[] = {
        {Row({"198.18.0.1", "○", "PC01", "WORKGROUP", "00000c010203", "Cisco", "PC01/ADMIN"},
             R::kReasonEcho | R::kReasonNbstat, 3),
         R"({"address":"198.18.0.1","present":true,"reasons":["echo","nbstat"],"name":"PC01",
             "workgroup":"WORKGROUP","mac":"00000C010203","vendor":"Cisco",
             "messengers":["PC01","ADMIN"],"rtt_ms":3,
             "hostnames":[{"name":"PC01","source":"netbios"}]})"},
        // Every reason, in its fixed order; a round trip of 0 is one.
        {Row({"198.18.0.2", "○", "", "", "", "", ""},
             R::kReasonPortUnreachable | R::kReasonArp | R::kReasonNbstat | R::kReasonEcho, 0),
         R"({"address":"198.18.0.2","present":true,
             "reasons":["echo","nbstat","arp","port-unreachable"],"name":null,"workgroup":null,
             "mac":null,"vendor":null,"messengers":[],"rtt_ms":0,"hostnames":[]})"},
        // A kept silent row.
        {Row({"198.18.0.3", "×", "", "", "", "", ""}),
         R"({"address":"198.18.0.3","present":false,"reasons":[],"name":null,"workgroup":null,
             "mac":null,"vendor":null,"messengers":[],"rtt_ms":null,"hostnames":[]})"},
        // Quotes, backslashes, a comma and a formula stay as they are; control
        // bytes become '.'; an unknown vendor and an unusable MAC are null.
        {Row({"198.18.0.4", "○", "a\"b\\c", "=cmd,1", "-", "不明", "x\x1b[31my/\x7f/"},
             R::kReasonEcho, 12),
         R"({"address":"198.18.0.4","present":true,"reasons":["echo"],"name":"a\"b\\c",
             "workgroup":"=cmd,1","mac":null,"vendor":null,"messengers":["x.[31my","."],
             "rtt_ms":12,"hostnames":[{"name":"a\"b\\c","source":"netbios"}]})"},
    };
    std::string lines;
    for (const auto& c : cases) {
        const std::string line = RowJsonLine(c.row);
        lines += line;
        Json expected = Json::parse(c.expected);
        expected["type"] = "row";
        expected["schema"] = 1;
        EXPECT_EQ(Parsed(line), expected) << line;
        EXPECT_EQ(line.rfind(R"({"type":"row","schema":1,)", 0), 0u) << line;
    }
    EXPECT_EQ(JsonLinesValidator::VopalScanProblems(lines), "");
}

// Every name with its source, the NetBIOS name first, then mDNS, LLMNR and
// DNS whatever order the value holds them in, each source's as it gave them;
// the stored timeline's alike; a rename says which source it is of.
TEST(JsonReport, HostnamesListEveryNameWithItsSourceInOrderOfPreference) {
    using S = HostRecord::NameSource;
    const struct {
        const char* computer;
        std::vector<HostRecord::Name> names;
        const char* hostnames;
    } cases[] = {
        {"PC01",
         {{"b.example", S::Dns},
          {"pc01.local", S::Mdns},
          {"a.example", S::Dns},
          {"PC01", S::Llmnr}},
         R"([{"name":"PC01","source":"netbios"},{"name":"pc01.local","source":"mdns"},
             {"name":"PC01","source":"llmnr"},{"name":"b.example","source":"dns"},
             {"name":"a.example","source":"dns"}])"},
        {"", {{"pc.example", S::Dns}}, R"([{"name":"pc.example","source":"dns"}])"},
        {"",
         {{"\x1b[2Jx\xff", S::Mdns}, {"", S::Dns}},
         R"([{"name":".[2Jx\ufffd","source":"mdns"}])"},
    };
    std::string lines;
    for (const auto& c : cases) {
        HostRecord row = RecordOfCells({"198.18.0.5", "○", c.computer, "", "", "", ""});
        row.names = c.names;
        lines += RowJsonLine(row);
        EXPECT_EQ(Parsed(RowJsonLine(row))["hostnames"], Json::parse(c.hostnames));
        EXPECT_EQ(Parsed(RowJsonLine(row))["name"], *c.computer ? Json(c.computer) : Json());

        HostHistory history;
        history.identity = "ip:198.18.0.5";
        HistoryEntry entry;
        entry.scan = 1;
        entry.row = CellsOf(row);
        entry.names = c.names;
        std::stable_sort(entry.names.begin(), entry.names.end(),
                         [](const auto& a, const auto& b) { return a.source < b.source; });
        lines += HistoryJsonLine(history, entry);
        EXPECT_EQ(Parsed(HistoryJsonLine(history, entry))["hostnames"], Json::parse(c.hostnames));
    }
    const struct {
        Change change;
        Json source;
    } changes[] = {
        {{ChangeKind::Renamed, 0xC6120001, "mac:001122334401", "a.local", "b.local", 1, S::Mdns},
         "mdns"},
        {{ChangeKind::Renamed, 0xC6120001, "mac:001122334401", "A/WG", "B/WG", 1}, "netbios"},
        {{ChangeKind::New, 0xC6120001, "mac:001122334401", "", "", 1}, nullptr},
    };
    for (const auto& c : changes) {
        lines += ChangeJsonLine({c.change, 1});
        EXPECT_EQ(Parsed(ChangeJsonLine({c.change, 1}))["source"], c.source);
    }
    EXPECT_EQ(JsonLinesValidator::VopalScanProblems(lines), "");
}

TEST(JsonReport, BytesThatAreNoUtf8BecomeReplacementCharacters) {
    const struct {
        std::string name;
        std::string shown;
    } cases[] = {
        {"\xff\xfe", kReplacement + kReplacement},
        {"PC\xc3", "PC" + kReplacement}, // cut inside a character
        {"\xc2\x85"
         "A",
         ".A"},                                                       // a C1 control
        {"\xe3\x81\x82\x80", "あ" + kReplacement},                    // a stray continuation byte
        {"\xed\xa0\x80", kReplacement + kReplacement + kReplacement}, // a surrogate half
        {std::string("N\0L", 3), "N.L"},
    };
    std::string lines;
    for (const auto& c : cases) {
        const HostRecord row = RecordOfCells({"198.18.0.9", "○", c.name, c.name, "", "", c.name});
        std::string line;
        ASSERT_NO_THROW(line = RowJsonLine(row));
        lines += line;
        const Json parsed = Parsed(line);
        EXPECT_EQ(parsed["name"], c.shown) << line;
        EXPECT_EQ(parsed["workgroup"], c.shown) << line;
        EXPECT_EQ(parsed["messengers"], Json::array({c.shown})) << line;
        for (unsigned char byte : line)
            EXPECT_TRUE(byte >= 0x20 || byte == '\n') << line;
    }
    EXPECT_EQ(JsonLinesValidator::VopalScanProblems(lines), "");
}

TEST(JsonReport, ChangesOfEveryKindWithTheirEnglishAndJapaneseNames) {
    const std::int64_t firstSeenMs = 1700000000123; // 2023-11-14T22:13:20.123Z
    const struct {
        Change change;
        const char* kind;
        const char* label;
        Json mac, before, after;
    } cases[] = {
        {{ChangeKind::New, 0xC6120001, "mac:001122334401", "", "", 1},
         "new",
         "新規",
         "001122334401",
         nullptr,
         nullptr},
        {{ChangeKind::Returned, 0xC6120002, "name:PC02/WG", "", "", 2},
         "returned",
         "復帰",
         nullptr,
         nullptr,
         nullptr},
        {{ChangeKind::Gone, 0xC6120003, "ip:198.18.0.3", "PC\r\n03/WG", "", 3},
         "gone",
         "消失",
         nullptr,
         "PC..03/WG",
         nullptr},
        {{ChangeKind::Renamed, 0xC6120004, "mac:001122334404", "=cmd/WG", "A,\"B\"/WG", 4},
         "renamed",
         "名前変更",
         "001122334404",
         "=cmd/WG",
         "A,\"B\"/WG"},
        {{ChangeKind::MacChanged, 0xC6120005, "mac:001122334405", "001122334499", "001122334405",
          5},
         "mac-changed",
         "MAC変更",
         "001122334405",
         "001122334499",
         "001122334405"},
        {{ChangeKind::Moved, 0xC6120006, "mac:001122334406", "198.18.0.9", "198.18.0.6", 6},
         "moved",
         "移動",
         "001122334406",
         "198.18.0.9",
         "198.18.0.6"},
        {{ChangeKind::Duplicate, 0xC6120007, "mac:001122334406", "198.18.0.6", "198.18.0.7", 6},
         "duplicate",
         "重複",
         "001122334406",
         "198.18.0.6",
         "198.18.0.7"},
    };
    std::string lines;
    for (const auto& c : cases) {
        const std::string line = ChangeJsonLine({c.change, firstSeenMs});
        lines += line;
        const Json parsed = Parsed(line);
        EXPECT_EQ(parsed["type"], "change");
        EXPECT_EQ(parsed["kind"], c.kind);
        EXPECT_EQ(parsed["label"], c.label);
        EXPECT_EQ(parsed["address"], AddressToText(c.change.address));
        EXPECT_EQ(parsed["mac"], c.mac) << line;
        EXPECT_EQ(parsed["before"], c.before) << line;
        EXPECT_EQ(parsed["after"], c.after) << line;
        EXPECT_EQ(parsed["first_seen"], "2023-11-14T22:13:20.123Z");
        EXPECT_EQ(parsed["first_seen_scan"], c.change.firstSeen);
    }
    // Unknown times are null, not the epoch.
    const Json unknown = Parsed(ChangeJsonLine({cases[0].change, 0}));
    EXPECT_TRUE(unknown["first_seen"].is_null());
    EXPECT_EQ(JsonLinesValidator::VopalScanProblems(lines), "");
}

TEST(JsonReport, ATimelineHasEachScanAndTheDepartureAsNotPresent) {
    HostHistory history;
    history.identity = "mac:021122334401";
    history.randomisedMac = true;
    HistoryEntry seen;
    seen.scan = 1;
    seen.startedMs = 1700000000000;
    seen.row = {"198.18.0.1",
                      "○",
                      "PC\x1b"
                      "01",
                      "W\xffG",
                      "021122334401",
                      "v",
                      "M1/M2"};
    seen.changes = {{ChangeKind::New, 0xC6120001, history.identity, "", "", 1},
                    {ChangeKind::Renamed, 0xC6120001, history.identity, "A/WG", "B/WG", 1}};
    HistoryEntry gone;
    gone.scan = 3;
    gone.startedMs = 1700000600000;
    gone.seen = false;
    gone.row = {"198.18.0.1", "", "", "", "", "", ""};
    gone.changes = {{ChangeKind::Gone, 0xC6120001, history.identity, "", "", 1}};
    seen.site = "Nord\a";
    history.entries = {seen, gone};

    const std::string first = HistoryJsonLine(history, seen);
    const std::string second = HistoryJsonLine(history, gone);
    EXPECT_EQ(Parsed(first), Json::parse(R"({"type":"history","schema":1,"scan":1,
        "started":"2023-11-14T22:13:20.000Z","seen":true,"site":"Nord.","identity":"021122334401",
        "randomised_mac":true,"address":"198.18.0.1","present":true,"reasons":[],
        "name":"PC.01","workgroup":"W)" + kReplacement +
                                         R"(G","mac":"021122334401",
        "vendor":"v","messengers":["M1","M2"],"rtt_ms":null,
        "hostnames":[{"name":"PC.01","source":"netbios"}],"changes":["new","renamed"]})"));
    const Json parsed = Parsed(second);
    EXPECT_EQ(parsed["seen"], false);
    EXPECT_EQ(parsed["site"], nullptr);
    EXPECT_EQ(parsed["present"], false);
    EXPECT_EQ(parsed["changes"], Json::array({"gone"}));
    EXPECT_EQ(JsonLinesValidator::VopalScanProblems(first + second), "");
}

TEST(JsonReport, TimesAreUtcWithMilliseconds) {
    const struct {
        std::int64_t ms;
        const char* text;
    } cases[] = {
        {1, "1970-01-01T00:00:00.001Z"},
        {951782400999, "2000-02-29T00:00:00.999Z"},
        {4102444799000, "2099-12-31T23:59:59.000Z"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsoUtcText(c.ms), c.text);
}

// The checker itself must refuse what the schema does not allow, or every
// check above would pass whatever the lines held.
TEST(JsonReport, TheSchemaCheckRefusesLinesOutsideTheSchema) {
    const HostRecord row = RecordOfCells({"198.18.0.1", "○", "PC", "", "001122334455", "", ""});
    Json good = Json::parse(RowJsonLine(row));
    ASSERT_EQ(JsonLinesValidator::VopalScanProblems(good.dump() + "\n"), "");
    const struct {
        const char* key;
        Json value;
    } cases[] = {
        {"schema", 2},
        {"type", "rows"},
        {"mac", "001122334455 "},
        {"mac", "00112233445a"},
        {"address", "198.18.0.01"},
        {"reasons", Json::array({"ping"})},
        {"rtt_ms", -1},
        {"name", ""},
        {"extra", true},
        {"hostnames", Json::array({{{"name", "PC"}, {"source", "wins"}}})},
        {"hostnames", Json::array({{{"name", ""}, {"source", "dns"}}})},
        {"hostnames", Json::array({{{"name", "PC"}}})},
    };
    for (const auto& c : cases) {
        Json bad = good;
        bad[c.key] = c.value;
        EXPECT_NE(JsonLinesValidator::VopalScanProblems(bad.dump() + "\n"), "") << bad.dump();
    }
    Json missing = good;
    missing.erase("workgroup");
    EXPECT_NE(JsonLinesValidator::VopalScanProblems(missing.dump() + "\n"), "");
    EXPECT_NE(JsonLinesValidator::VopalScanProblems(good.dump()), ""); // no line end
    EXPECT_NE(JsonLinesValidator::VopalScanProblems("[1]\n"), "");
    // A source only on a rename, and one the schema knows.
    for (const auto& [kind, source] :
         {std::pair{ChangeKind::New, Json("mdns")}, std::pair{ChangeKind::Renamed, Json("wins")},
          std::pair{ChangeKind::Renamed, Json(nullptr)}}) {
        Json change =
            Json::parse(ChangeJsonLine({{kind, 0xC6120001, "mac:001122334401", "a", "b", 1}, 1}));
        change["source"] = source;
        EXPECT_NE(JsonLinesValidator::VopalScanProblems(change.dump() + "\n"), "") << change.dump();
    }
    EXPECT_NE(JsonLinesValidator::VopalScanProblems("{\"type\":\"row\"\n"), "");
}

} // namespace
