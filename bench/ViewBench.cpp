// Rows per second from a scan-like thread through the window's sink into the
// result view's model (reported as a scan reports them, until the last one
// is in the model), and the program's resident memory with the view empty and
// with 20000 rows. Prints figures; not a test.
//
// usage: view_bench [fast [EVERY]]
//   fast: the sink as with 高速スキャン on (the rows keep their evidence and
//   names for tool tips), and every EVERY-th row (default 2) has names from
//   mDNS, LLMNR and DNS beside its NetBIOS name

#include "gui/dialogs/CScanStartDlg.h"
#include "core/scan/RealScanProbes.h"
#include "core/settings/ScanSettings.h"
#include "gui/model/ModelScanSink.h"
#include "gui/model/ResultModel.h"
#include "gui/view/CTarnelView.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    const bool fast = argc >= 2 && std::string(argv[1]) == "fast";
    const int namedEvery = argc >= 3 ? std::atoi(argv[2]) : 2;
    if ((argc >= 2 && !fast) || argc > 3 || namedEvery < 1) {
        std::fprintf(stderr, "usage: view_bench [fast [EVERY]]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ScanSettingsRecord settings;
    IcmpEchoService echo;
    RealScanProbes probes(echo);
    CTarnelView view(settings, probes);
    view.OnInitialUpdate();
    view.resize(900, 500);
    view.show();
    QApplication::processEvents();
    const long empty = ResidentKiB();

    const int rows = CScanStartDlg::kRowLimit;
    ModelScanSink sink(view.Model());
    sink.ShowReasons(fast);
    sink.ShowNames(fast);
    QEventLoop loop;
    QObject::connect(&sink, &ModelScanSink::finished, &loop, &QEventLoop::quit);
    const auto start = std::chrono::steady_clock::now();
    // The reports of a scan: the manager's new row, then the worker's mark
    // and its whole row after the node-status query.
    std::thread scan([&] {
        sink.RowsCleared();
        for (int row = 0; row < rows; ++row) {
            HostRecord record;
            record.address = 0x0A000000u | static_cast<std::uint32_t>(row);
            sink.RowAdded(row, HostRecord::FormatAddress(record.address));
            record.response = HostRecord::Response::Answered;
            record.reasons = HostRecord::kReasonEcho;
            sink.RowResult(row, record);
            record.reasons |= HostRecord::kReasonNbstat;
            record.nodeStatus = record.hasMac = true;
            record.computer = "WORKSTATION" + std::to_string(row % 1000);
            record.workgroup = "WORKGROUP";
            record.mac = {0x00, 0xA0, 0xC9, 0x01, 0x02, 0x03};
            record.vendor = "Intel Corporation";
            record.messengers = {"WORKSTATION", "ADMINISTRATOR"};
            if (fast && row % namedEvery == 0) {
                const std::string name = "workstation" + std::to_string(row % 1000);
                record.names = {{name + ".local", HostRecord::NameSource::Mdns},
                                {name, HostRecord::NameSource::Llmnr},
                                {name + ".corp.example.jp", HostRecord::NameSource::Dns}};
            }
            sink.RowResult(row, record);
        }
        ScanSummary summary;
        summary.keepSilent = true;
        sink.Finished(summary);
    });
    loop.exec();
    const auto took = std::chrono::steady_clock::now() - start;
    scan.join();
    QApplication::processEvents();
    const long full = ResidentKiB();
    if (view.Model()->Count() != rows || view.Model()->Cell(rows - 1, 6).empty()) {
        std::fprintf(stderr, "the model does not hold the rows\n");
        return 1;
    }
    const QString tip = view.model()
                            ->data(view.model()->index(0, HostRecord::kComputer), Qt::ToolTipRole)
                            .toString();
    if (fast != tip.contains("DNS: ")) {
        std::fprintf(stderr, "the first row's names are not in its tool tip\n");
        return 1;
    }

    const double seconds = std::chrono::duration<double>(took).count();
    std::printf("rows reported into the view's model: %d rows, 3 reports each, in %.3f s%s\n", rows,
                seconds, fast ? " (高速スキャン)" : "");
    if (fast)
        std::printf("  one row in %d has names from mDNS, LLMNR and DNS beside NetBIOS\n",
                    namedEvery);
    std::printf("  %.0f rows/s\n", rows / seconds);
    std::printf("resident memory: empty view %ld KiB, with %d rows %ld KiB (rows add %.1f MiB)\n",
                empty, rows, full, (full - empty) / 1024.0);
    return 0;
}
