// One diagnose run without the window: the report text of each outcome, the
// values it fills, and that the settings the scan obeys are not consulted.

#include "view/DiagnoseResult.h"
#include "app/ScanSettings.h"
#include "tests/support/ScriptedNodeStatusProbes.h"

#include <gtest/gtest.h>

namespace {

// PC1 registers its own name for the messenger too; USER is someone else's.
ScriptedHost Workstation(bool echo) {
    ScriptedHost host;
    host.echo = echo;
    host.code = 0;
    host.mac = {0x00, 0xA0, 0xC9, 0x12, 0x34, 0x56};
    host.names = {{"PC1", 0x00, false},
                  {"PC1", 0x03, false},
                  {"OFFICE", 0x00, true},
                  {"USER", 0x03, false},
                  {"PC1", 0x20, false}};
    return host;
}

TEST(DiagnoseResultTest, TheReportOfEachOutcome) {
    ScriptedNodeStatusProbes probes;
    probes.hosts["10.0.0.1"] = Workstation(true);
    probes.hosts["10.0.0.2"] = Workstation(false); // NetBIOS answers, the echo does not
    probes.hosts["10.0.0.3"] = ScriptedHost{true, 0x14, {}, {}};
    ScriptedHost nameless = Workstation(true);
    nameless.names = {{"PC9", 0x20, false}};
    probes.hosts["10.0.0.4"] = nameless;

    struct Case {
        const char* address;
        std::string text;
        bool decoded;
    } cases[] = {
        {"10.0.0.1", "PING応答あり\r\n完了", true},
        {"10.0.0.2", "PING応答なし\r\n完了", true},
        {"10.0.0.9", "PING応答なし\r\n失敗：エラーコード：5\r\nnetbios:タイムアウト\r\n", false},
        {"10.0.0.3",
         "PING応答あり\r\n失敗：エラーコード：20\r\nnetbios:呼ばれた名前が見つかりませんでした\r\n",
         false},
        {"10.0.0.4", "PING応答あり\r\n完了", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        const DiagnoseResult result = RunDiagnosis(probes, c.address, 3);
        EXPECT_EQ(result.text, c.text);
        EXPECT_EQ(result.decoded, c.decoded);
    }
    // Each run pinged and queried its address once, through the LANA given,
    // never under a lock.
    ASSERT_EQ(probes.Queried().size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(probes.Pinged()[i], cases[i].address);
        EXPECT_EQ(probes.Queried()[i].address, cases[i].address);
        EXPECT_EQ(probes.Queried()[i].lana, 3);
        EXPECT_FALSE(probes.Queried()[i].locked);
    }
}

TEST(DiagnoseResultTest, ValuesIgnoreTheVendorAndWorkstationSwitches) {
    const ScanSettingsRecord saved = ScanSettings;
    ScanSettings.IgnoreNicVendorId = 1;
    ScanSettings.IgnoreWorkstationService = 0;
    ScriptedNodeStatusProbes probes;
    probes.hosts["10.0.0.1"] = Workstation(true);
    const DiagnoseResult result = RunDiagnosis(probes, "10.0.0.1", 0);
    ScanSettings = saved;

    EXPECT_EQ(result.macAddress, "00A0C9123456");
    EXPECT_EQ(result.vendor, "INTEL - HF1-06");
    EXPECT_EQ(result.computerName, "PC1");
    EXPECT_EQ(result.domainName, "OFFICE");
    EXPECT_EQ(result.messengerNames, "USER");

    // No <00> names: both names absent, the messenger empty, the vendor unknown.
    ScriptedHost nameless = Workstation(true);
    nameless.mac = {0x02, 0x4B, 0x44, 0, 0, 1};
    nameless.names = {{"PC9", 0x20, false}};
    probes.hosts["10.0.0.4"] = nameless;
    const DiagnoseResult bare = RunDiagnosis(probes, "10.0.0.4", 0);
    EXPECT_FALSE(bare.computerName.has_value());
    EXPECT_FALSE(bare.domainName.has_value());
    EXPECT_EQ(bare.messengerNames, "");
    EXPECT_EQ(bare.vendor, "不明");
}

} // namespace
