// Rows written per second through the result view, from a scan-like thread,
// and the program's resident memory with the view empty and with 20000 rows.
// Prints figures; not a test.

#include "scan/CThreadManager.h"
#include "view/CTarnelView.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
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
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CTarnelView view;
    view.OnInitialUpdate();
    view.resize(900, 500);
    view.show();
    QApplication::processEvents();
    const long empty = ResidentKiB();

    const int rows = CThreadManager::kRowLimit;
    QEventLoop loop;
    std::chrono::steady_clock::duration took{};
    // The writes of a scan: the manager's insert, then the worker's six cells.
    std::thread scan([&] {
        const auto start = std::chrono::steady_clock::now();
        for (int row = 0; row < rows; ++row) {
            const std::string address =
                "10." + std::to_string(row >> 16) + "." + std::to_string((row >> 8) & 255) + "." +
                std::to_string(row & 255);
            const int at = view.InsertItem(view.GetItemCount(), address);
            view.SetItemText(at, 1, "○");
            view.SetItemText(at, 4, "00A0C9010203");
            view.SetItemText(at, 5, "Intel Corporation");
            view.SetItemText(at, 2, "WORKSTATION" + std::to_string(row % 1000));
            view.SetItemText(at, 3, "WORKGROUP");
            view.SetItemText(at, 6, "WORKSTATION/ADMINISTRATOR");
        }
        took = std::chrono::steady_clock::now() - start;
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    scan.join();
    QApplication::processEvents();
    const long full = ResidentKiB();

    const double seconds = std::chrono::duration<double>(took).count();
    std::printf("rows written through the view: %d rows, 7 cell writes each, in %.2f s\n", rows,
                seconds);
    std::printf("  %.0f rows/s (%.0f cell writes/s)\n", rows / seconds, rows * 7 / seconds);
    std::printf("resident memory: empty view %ld KiB, with %d rows %ld KiB (rows add %.1f MiB)\n",
                empty, rows, full, (full - empty) / 1024.0);
    return 0;
}
