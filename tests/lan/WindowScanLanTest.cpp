// A whole scan of the test LAN from the scan start dialog, inside the client
// namespace: the view must hold exactly the rows that vopal-scan prints for
// the same list file.

#include "platform/win32/FileDialog.h"
#include "platform/win32/IcmpEcho.h"
#include "tests/support/MachineProbes.h"
#include "gui/dialogs/CScanStartDlg.h"
#include "core/res/Resource.h"
#include "tests/lan/LanTest.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MessageBoxRecorder.h"
#include "gui/view/CTarnelView.h"
#include "core/commands/ExportFormat.h"

#include <QWidget>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <memory>

namespace {

std::string RunCommandLineScan(const std::string& listFile, const std::string& config,
                               const char* encoding) {
    const std::string command = "XDG_CONFIG_HOME=" + config + " " + KD_VOPAL_SCAN_PATH +
                                " --engine threads --threads 15 --timeout 1000 --encoding " + encoding +
                                " --list " + listFile;
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return output;
    std::array<char, 4096> chunk;
    while (std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe))
        output.append(chunk.data(), n);
    ::pclose(pipe);
    return output;
}

class WindowScanLanTest : public LanTest {
protected:
    // Scans 198.18.0.2 to .40 with `probes` from the scan start dialog into
    // `view`, with the thread count and time-out that the command-line scan
    // is given.
    void ScanFromTheDialog(CTarnelView& view, ScanProbes& probes) {
        sandbox.settings.PingTimeout = 1000;
        sandbox.settings.MaxThread = 15;
        TempDir::WriteFile(sandbox.settings.IpListFileName, "198.18.0.2,198.18.0.40\r\n");
        QWidget window;
        CScanStartDlg dialog(view.Model(), sandbox.settings, &window, probes);
        dialog.show();
        gui::Click(&dialog, IDC_START);
        ASSERT_TRUE(dialog.ScanRunning());
        ASSERT_TRUE(gui::WaitFor([&] { return !dialog.ScanRunning(); }, 120000));
        EXPECT_EQ(boxes.count(), 0u);
    }

    gui::SettingsSandbox sandbox;
    MessageBoxRecorder boxes;
    MachineProbes machine;
};

TEST_F(WindowScanLanTest, TheDialogsScanGivesTheRowsOfTheCommandLineScan) {
    CTarnelView view(sandbox.settings, machine.probes);
    view.InsertItem(0, "a row of an earlier scan");
    ASSERT_NO_FATAL_FAILURE(ScanFromTheDialog(view, machine.probes));

    const std::string config = sandbox.dir.path();
    const std::string expected = RunCommandLineScan(sandbox.settings.IpListFileName, config, "utf8");
    ASSERT_NE(expected.find("198.18.0.10,○,KDALPHA,KDWORK"), std::string::npos) << expected;
    EXPECT_EQ(FormatExportText(view), expected);

    // Saved through the export command, the list is the CP932 file that
    // vopal-scan writes.
    const std::string exported = sandbox.dir.file("scan.lst");
    FileDialogHandler previous = SetFileDialogHandler(
        [&](const FileDialogRequest&, std::string& chosen) {
            chosen = exported;
            return true;
        });
    view.OnCommand(ID_SAVE_RESULTS);
    SetFileDialogHandler(previous);
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(TempDir::ReadFile(exported),
              RunCommandLineScan(sandbox.settings.IpListFileName, config, "cp932"));
}

// Stop in the dialog while a ten-minute echo wait is under way, in either
// engine: every row the scan added ends as ○ or ×; the × rows go at the end
// unless they are kept, as after any scan.
TEST_F(WindowScanLanTest, StopLeavesNoRowWithoutItsMark) {
    for (const int fastScan : {0, 1}) {
        for (const int keep : {1, 0}) {
            SCOPED_TRACE(std::string(fastScan ? "fast" : "threads") + (keep ? " kept" : ""));
            sandbox.settings.PingTimeout = 600000;
            sandbox.settings.MaxThread = 3;
            sandbox.settings.FastScan = fastScan;
            sandbox.settings.DontDeleteUnresolvedAddress = keep;
            TempDir::WriteFile(sandbox.settings.IpListFileName, "198.18.0.10,198.18.0.254\r\n");
            CTarnelView view(sandbox.settings, machine.probes);
            QWidget window;
            CScanStartDlg dialog(view.Model(), sandbox.settings, &window, machine.probes);
            dialog.show();
            gui::Click(&dialog, IDC_START);
            ASSERT_TRUE(dialog.ScanRunning());
            gui::WaitFor([] { return false; }, 1500);
            gui::Click(&dialog, IDC_STOP);
            ASSERT_TRUE(gui::WaitFor([&] { return !dialog.ScanRunning(); }, 10000));
            int silent = 0, answered = 0;
            for (int row = 0; row < view.GetItemCount(); ++row) {
                const std::string mark = view.GetItemText(row, 1);
                EXPECT_TRUE(mark == "○" || mark == "×") << view.GetItemText(row, 0);
                silent += mark == "×";
                answered += mark == "○";
            }
            EXPECT_GE(answered, 1);
            if (keep)
                EXPECT_GE(silent, 1);
            else
                EXPECT_EQ(silent, 0);
            EXPECT_EQ(boxes.count(), 0u);
        }
    }
}

// Run by tests/lan/unprivileged_test.sh only: as a normal user, in a
// namespace that refuses ping sockets, with the raw sockets coming from the
// installed helper; the rows must be those that root's vopal-scan printed.
TEST_F(WindowScanLanTest, TheWindowsEngineScansAsANormalUserThroughTheHelper) {
    const char* helper = std::getenv("KD_UNPRIVILEGED_HELPER");
    const char* expectedFile = std::getenv("KD_UNPRIVILEGED_EXPECTED");
    if (!helper || !expectedFile)
        GTEST_SKIP() << "run by tests/lan/unprivileged_test.sh";
    ASSERT_NE(::geteuid(), 0u);
    using namespace IcmpEchoInternal;
    ASSERT_FALSE(CanOpenSocket(IcmpSocketKind::Datagram));
    ASSERT_FALSE(CanOpenSocket(IcmpSocketKind::Raw));
    MachineProbes helped(helper);

    CTarnelView view(sandbox.settings, helped.probes);
    ASSERT_NO_FATAL_FAILURE(ScanFromTheDialog(view, helped.probes));
    const std::string expected = TempDir::ReadFile(expectedFile);
    ASSERT_NE(expected.find("198.18.0.10,○,KDALPHA,KDWORK"), std::string::npos) << expected;
    EXPECT_EQ(FormatExportText(view), expected);
}

} // namespace
