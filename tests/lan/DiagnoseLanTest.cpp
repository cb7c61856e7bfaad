// The diagnose dialog against the test LAN, with the real probes: an nmbd
// host fills every field; a ping-only host and a silent address fail in the
// result box and leave the fields as they were.

#include "core/res/Resource.h"
#include "core/scan/NodeStatusQuery.h"
#include "tests/lan/LanTest.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MachineProbes.h"
#include "tests/support/MessageBoxRecorder.h"
#include "gui/dialogs/CDiagnoseDlg.h"

#include <QLineEdit>

namespace {

using Role = TestLanHost::Role;

class DiagnoseLanTest : public LanTest {};

TEST_F(DiagnoseLanTest, AnNmbdHostFillsTheFieldsAndFailuresLeaveThem) {
    gui::SettingsSandbox sandbox;
    sandbox.settings.PingTimeout = 1000;
    sandbox.settings.LanaNumber = SelectLana().lana;
    MessageBoxRecorder boxes;
    const TestLanHost nmbd = lan().WithRole(Role::Nmbd).front();
    ASSERT_TRUE(nmbd.aliases.empty()) << "the first nmbd host has one name of its own";
    // The host registers its own name for the messenger too; the dialog
    // always leaves that one out.
    const std::vector<std::string> filled{nmbd.workgroup, nmbd.name, nmbd.MacHex(), "不明", ""};
    const std::string timedOut = "失敗：エラーコード：5\r\nnetbios:タイムアウト\r\n";

    MachineProbes machine;
    CDiagnoseDlg dialog("", sandbox.settings, machine.probes);
    dialog.show();
    for (auto [role, text] : {std::pair{Role::Nmbd, std::string("PING応答あり\r\n完了")},
                              {Role::PingOnly, "PING応答あり\r\n" + timedOut},
                              {Role::Silent, "PING応答なし\r\n" + timedOut}}) {
        const std::string address = lan().WithRole(role).front().address;
        gui::Control<QLineEdit>(&dialog, IDC_DIAGNOSE_ADDRESS)->setText(address.c_str());
        gui::Click(&dialog, IDC_DIAGNOSE_RUN);
        ASSERT_TRUE(gui::WaitFor([&] { return !dialog.Running(); })) << address;
        EXPECT_EQ(dialog.ResultText(), text) << address;
        std::vector<std::string> shown;
        for (int id : {IDC_DIAGNOSE_DOMAIN, IDC_DIAGNOSE_COMPUTER, IDC_DIAGNOSE_MAC,
                       IDC_DIAGNOSE_VENDOR, IDC_DIAGNOSE_MESSENGER})
            shown.push_back(gui::Control<QLineEdit>(&dialog, id)->text().toStdString());
        EXPECT_EQ(shown, filled) << address;
    }
    EXPECT_EQ(boxes.count(), 0u);
}

} // namespace
