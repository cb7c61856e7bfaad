// The test LAN's names from other sources than NetBIOS, without a network:
// the layout's names column as both of its readers (TestLan and
// scripts/testlan.sh) take it, and the names the truth gives each address.

#include "tests/lan/TestLanTruth.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

using Source = HostRecord::NameSource;
using Behaviour = LlmnrResponder::Behaviour;

const std::string kClientAndDns = "client 198.18.0.1 02:4b:44:00:00:01 - - -\n"
                                  "dns 198.18.0.70 02:4b:44:00:00:46 - - - dns:gw.kdlan.test\n";

// What `testlan.sh check` says of the layout file: its exit status and output.
std::pair<int, std::string> ScriptCheck(const std::string& file) {
    const std::string command = "KD_TESTLAN_CONF='" + file + "' '" KD_TESTLAN_SCRIPT "' check 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {-1, "cannot run " + command};
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(TestLanNames, BothReadersTakeAndRefuseTheSameNamesColumns) {
    const struct {
        std::string layout;  // after kClientAndDns, unless it starts with "client"
        const char* refusal; // empty: taken
    } cases[] = {
        {"named 198.18.0.71 02:4b:44:00:00:47 - - - mdns:kd-prn.local,llmnr:kdprn,dns:prn.kd.test",
         ""},
        {"named 198.18.0.71 02:4b:44:00:00:47 - - - -", ""},
        {"named 198.18.0.71 02:4b:44:00:00:47 - - -", ""},
        {"hostile 198.18.0.77 02:4b:44:00:00:4d loop - - llmnr:kdhostile", ""},
        {"nmbd-named 198.18.0.73 02:4b:44:00:00:49 KDLINUX KDWORK - mdns:kdlinux.local", ""},
        {"nmbd 198.18.0.10 02:4b:44:00:00:0a KDALPHA KDWORK - mdns:kdalpha.local",
         "has no names column"},
        {"named 198.18.0.71 02:4b:44:00:00:47 - - - mdns:kdprinter", "bad name mdns:kdprinter"},
        {"named 198.18.0.71 02:4b:44:00:00:47 - - - mdns:kd.prn.local", "bad name"},
        {"named 198.18.0.71 02:4b:44:00:00:47 - - - llmnr:kd.pc", "bad name"},
        {"named 198.18.0.71 02:4b:44:00:00:47 - - - dns:nas", "bad name"},
        {"named 198.18.0.71 02:4b:44:00:00:47 - - - dns:-nas.kd.test", "bad name"},
        {"named 198.18.0.71 02:4b:44:00:00:47 - - - netbios:KDPRN", "bad name"},
        {"named 198.18.0.71 02:4b:44:00:00:47 - - - mdns:a.local,mdns:b.local",
         "a second mdns name"},
        {"named 198.18.0.71 02:4b:44:00:00:47 - - - dns:a.kd.test,dns:b.kd.test",
         "a second dns name"},
        {"named 198.18.0.71 02:4b:44:00:00:47 - - - - extra",
         "expected 6 fields and the names column"},
        {"hostile 198.18.0.77 02:4b:44:00:00:4d friendly - - llmnr:kdhostile",
         "friendly is no mode of the LLMNR responder"},
        {"hostile 198.18.0.77 02:4b:44:00:00:4d loop - - -", "one name: its LLMNR name"},
        {"hostile 198.18.0.77 02:4b:44:00:00:4d loop - - mdns:kdhostile.local",
         "one name: its LLMNR name"},
        {"dns 198.18.0.71 02:4b:44:00:00:47 - - - -", "a second dns host"},
        {"client 198.18.0.1 02:4b:44:00:00:01 - - -\n"
         "named 198.18.0.75 02:4b:44:00:00:4b - - - dns:nas.kd.test",
         "DNS names need a dns host"},
    };
    TempDir dir;
    const std::string file = dir.file("testlan.conf");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        const bool whole = c.layout.rfind("client", 0) == 0;
        TempDir::WriteFile(file, (whole ? "" : kClientAndDns) + c.layout + "\n");
        const bool taken = *c.refusal == '\0';
        std::string error;
        EXPECT_EQ(TestLan::Load(file, error).has_value(), taken) << error;
        if (!taken) {
            EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
        }
        const auto [status, said] = ScriptCheck(file);
        EXPECT_EQ(status, taken ? 0 : 1) << said;
        if (!taken) {
            EXPECT_NE(said.find(c.refusal), std::string::npos) << said;
        }
    }

    TempDir::WriteFile(file, kClientAndDns + cases[0].layout + "\n");
    std::string error;
    const auto lan = TestLan::Load(file, error);
    ASSERT_TRUE(lan) << error;
    ASSERT_TRUE(lan->dns());
    EXPECT_EQ(lan->dns()->address, "198.18.0.70");
    EXPECT_EQ(lan->Find("198.18.0.71")->otherNames,
              (std::vector<HostRecord::Name>{{"kd-prn.local", Source::Mdns},
                                             {"kdprn", Source::Llmnr},
                                             {"prn.kd.test", Source::Dns}}));
}

std::string Spelt(const std::vector<HostRecord::Name>& names) {
    std::string text;
    for (const HostRecord::Name& name : names)
        text += std::string(text.empty() ? "" : " ") + HostRecord::SourceText(name.source) + ":" +
                name.text;
    return text;
}

// Each address's names in the order of preference, whatever the order of
// the names column; a host that drops ping is named all the same; the
// hostile host's names are what the program's reader takes of its mode.
TEST(TestLanNames, TheTruthNamesEachAddressWithItsSources) {
    TempDir dir;
    TempDir::WriteFile(dir.file("testlan.conf"),
                       kClientAndDns +
                           "nmbd-named 198.18.0.73 02:4b:44:00:00:49 KDLINUX KDWORK KDLINUX-2 "
                           "dns:kdlinux.kd.test,mdns:kdlinux.local\n"
                           "named-noping 198.18.0.74 02:4b:44:00:00:4a - - - mdns:kdphone.local\n"
                           "hostile 198.18.0.77 02:4b:44:00:00:4d thousand - - llmnr:kdhostile\n"
                           "named 198.18.0.78 02:4b:44:00:00:4e - - -\n"
                           "wide 198.18.0.50 02:4b:44:00:00:32 198.19.0.0/16 - -\n");
    std::string error;
    const auto lan = TestLan::Load(dir.file("testlan.conf"), error);
    ASSERT_TRUE(lan) << error;
    std::string thousand;
    for (int i = 0; i < 8; ++i)
        thousand += (i ? " " : "") + std::string("llmnr:kdhostile-") + std::to_string(i);
    const struct {
        const char* address;
        std::optional<Behaviour> hostile;
        bool rejecting;
        std::string names;
    } cases[] = {
        {"198.18.0.73", {}, false, "netbios:KDLINUX-2 mdns:kdlinux.local dns:kdlinux.kd.test"},
        {"198.18.0.74", {}, false, "mdns:kdphone.local"},
        {"198.18.0.70", {}, false, "dns:gw.kdlan.test"},
        {"198.18.0.77", {}, false, thousand},
        {"198.18.0.77", Behaviour::Honest, false, "llmnr:kdhostile"},
        {"198.18.0.77", Behaviour::OtherAddress, false, ""},
        {"198.18.0.77", Behaviour::PointerLoop, false, ""},
        {"198.18.0.77", Behaviour::ControlCharacters, false, "llmnr:kdhostile\\007\\027[2J\\010"},
        {"198.18.0.78", Behaviour::OtherAddress, false, ""},
        {"198.18.0.1", {}, false, ""},
        {"198.18.0.30", {}, false, ""},
        {"198.19.1.2", {}, true, "netbios:W0102"},
        {"198.19.1.3", {}, false, ""},
        {"198.19.3.4", {}, false, "netbios:W0304"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + (c.hostile ? " hostile mode" : "") +
                     (c.rejecting ? " rejecting" : ""));
        const TestLanTruth truth(*lan, c.rejecting, c.hostile);
        EXPECT_EQ(Spelt(truth.NamesFor(AddressFromText(c.address))), c.names);
    }
    // Rows follow the echo as before: the phone has none, the others have
    // theirs, with the NetBIOS names of the one that runs nmbd.
    const TestLanTruth truth(*lan);
    EXPECT_FALSE(truth.RowFor(AddressFromText("198.18.0.74"), false));
    for (const char* address : {"198.18.0.70", "198.18.0.73", "198.18.0.77", "198.18.0.78"})
        EXPECT_TRUE(truth.RowFor(AddressFromText(address), false)) << address;
    EXPECT_EQ(CellOf(*truth.RowFor(AddressFromText("198.18.0.73"), false), HostRecord::kDomain),
              "KDWORK");
}

TEST(TestLanNames, NameDifferencesTellEachAddressThatDiffers) {
    using Names = TestLanTruth::NamesByAddress;
    const Names wanted = {{"198.18.0.71", {{"kdprn.local", Source::Mdns}}},
                          {"198.18.0.72", {}},
                          {"198.18.0.73", {{"KDLINUX", Source::Netbios}}}};
    EXPECT_EQ(TestLanTruth::NameDifferences(wanted, wanted), "");
    const Names got = {{"198.18.0.71", {{"kdprn.local", Source::Llmnr}}},
                       {"198.18.0.72", {}},
                       {"198.18.0.74", {}}};
    EXPECT_EQ(TestLanTruth::NameDifferences(got, wanted),
              "198.18.0.71 wanted: mdns:kdprn.local\n  got: llmnr:kdprn.local\n"
              "missing: 198.18.0.73 netbios:KDLINUX\n"
              "extra:   198.18.0.74 (none)\n");
    EXPECT_EQ(TestLanTruth::NameDifferences(got, wanted, 1),
              "198.18.0.71 wanted: mdns:kdprn.local\n  got: llmnr:kdprn.local\n... 2 more\n");
}

} // namespace
