// One scan from the scan start dialog, as the window runs it (offscreen),
// timed from Start to the end of the scan: the figure beside vopal-scan's for
// the same list (bench/window-vs-cli.sh). Prints figures; not a test.
//
// usage: window_scan_bench LIST_FILE THREADS TIMEOUT_MS [fast]
//   fast: with 高速スキャン on (the event-driven engine)

#include "core/res/Resource.h"
#include "core/scan/RealScanProbes.h"
#include "core/settings/ScanSettings.h"
#include "gui/dialogs/CScanStartDlg.h"
#include "gui/res/DialogBuilder.h"
#include "gui/view/CTarnelView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "fast")) {
        std::fprintf(stderr, "usage: window_scan_bench LIST_FILE THREADS TIMEOUT_MS [fast]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ScanSettingsRecord settings;
    settings.IpListFileName = argv[1];
    settings.MaxThread = std::atoi(argv[2]);
    settings.PingTimeout = std::atoi(argv[3]);
    settings.DontDeleteUnresolvedAddress = 1;
    settings.FastScan = argc == 5 ? 1 : 0;

    IcmpEchoService echo;
    RealScanProbes probes(echo);
    QWidget window;
    CTarnelView view(settings, probes, &window);
    CScanStartDlg dialog(view.Model(), settings, &window, probes);
    dialog.show();
    QEventLoop loop;
    QObject::connect(&dialog, &CScanStartDlg::scanFinished, &loop, &QEventLoop::quit);
    const auto start = std::chrono::steady_clock::now();
    DialogBuilder::ControlAs<QAbstractButton>(&dialog, IDC_START)->click();
    if (!dialog.ScanRunning()) {
        std::fprintf(stderr, "the scan did not start\n");
        return 1;
    }
    loop.exec();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.0f ms %d rows\n", ms, view.GetItemCount());
    return 0;
}
