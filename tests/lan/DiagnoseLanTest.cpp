// The diagnose dialog against the test LAN, with the real probes: an nmbd
// host fills every field, a ping-only host and a silent address fail in the
// result box and leave the fields as they were.

#include "res/Resource.h"
#include "scan/NodeStatusQuery.h"
#include "tests/lan/LanTest.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MessageBoxRecorder.h"
#include "view/CDiagnoseDlg.h"

#include <QLineEdit>

namespace {

using Role = TestLanHost::Role;

class DiagnoseLanTest : public LanTest {};

std::vector<std::string> Fields(const QWidget* dialog) {
    std::vector<std::string> fields;
    for (int id : {IDC_DIAGNOSE_DOMAIN, IDC_DIAGNOSE_COMPUTER, IDC_DIAGNOSE_MAC,
                   IDC_DIAGNOSE_VENDOR, IDC_DIAGNOSE_MESSENGER})
        fields.push_back(gui::Control<QLineEdit>(dialog, id)->text().toStdString());
    return fields;
}

const TestLanHost& Host(const TestLan& lan, Role role) {
    for (const TestLanHost& host : lan.hosts())
        if (host.role == role)
            return host;
    throw std::runtime_error("no such host in the test LAN");
}

TEST_F(DiagnoseLanTest, AnNmbdHostFillsTheFieldsAndFailuresLeaveThem) {
    gui::SettingsSandbox sandbox;
    ScanSettings.PingTimeout = 1000;
    ScanSettings.LanaNumber = SelectLana().lana;
    MessageBoxRecorder boxes;

    const TestLanHost& nmbd = Host(lan(), Role::Nmbd);
    ASSERT_TRUE(nmbd.aliases.empty()) << "the first nmbd host has one name of its own";
    CDiagnoseDlg dialog(nmbd.address);
    dialog.show();
    gui::Click(&dialog, IDC_DIAGNOSE_RUN);
    ASSERT_TRUE(gui::WaitFor([&] { return !dialog.Running(); }));
    EXPECT_EQ(dialog.ResultText(), "PING応答あり\r\n完了");
    // The host registers its own name for the messenger too; the dialog
    // always leaves that one out.
    const std::vector<std::string> filled{nmbd.workgroup, nmbd.name, nmbd.MacHex(), "不明", ""};
    EXPECT_EQ(Fields(&dialog), filled);

    struct Case {
        Role role;
        std::string text;
    } cases[] = {
        {Role::PingOnly, "PING応答あり\r\n失敗：エラーコード：5\r\nnetbios:タイムアウト\r\n"},
        {Role::Silent, "PING応答なし\r\n失敗：エラーコード：5\r\nnetbios:タイムアウト\r\n"},
    };
    for (const Case& c : cases) {
        const TestLanHost& host = Host(lan(), c.role);
        SCOPED_TRACE(host.address);
        gui::Control<QLineEdit>(&dialog, IDC_DIAGNOSE_ADDRESS)->setText(host.address.c_str());
        gui::Click(&dialog, IDC_DIAGNOSE_RUN);
        ASSERT_TRUE(gui::WaitFor([&] { return !dialog.Running(); }));
        EXPECT_EQ(dialog.ResultText(), c.text);
        EXPECT_EQ(Fields(&dialog), filled);
    }
    EXPECT_EQ(boxes.count(), 0u);
}

} // namespace
