// vopal-scan: the scan engine on the command line. Runs the same manager,
// workers, probes and range table as the window, with the stored settings
// (overridable for this run only), and prints the remaining rows as CSV in the
// export layout.

#include "app/ScanSettings.h"
#include "platform/MessageBox.h"
#include "platform/ProgramDirectory.h"
#include "platform/TextCodec.h"
#include "ranges/AddressRange.h"
#include "ranges/MemoryRangeListRows.h"
#include "ranges/RangeArgument.h"
#include "ranges/RangeList.h"
#include "scan/CThreadManager.h"
#include "scan/HostRecord.h"
#include "scan/MemoryResultList.h"
#include "scan/ScanStartDialog.h"
#include "view/ExportFormat.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: vopal-scan [options] [RANGE ...]\n"
    "\n"
    "Pings every address of the ranges, asks each host that answers for its NetBIOS\n"
    "node status and prints one CSV line per host (export layout: title line, seven\n"
    "fields, \"-\" for an empty cell, CR LF line ends).\n"
    "\n"
    "RANGE is a.b.c.d-e.f.g.h, a.b.c.d-h (last octet), a.b.c.d/n or a single address.\n"
    "Without ranges, the list file is scanned (--list, default: the stored list file).\n"
    "\n"
    "options (for this run only; the stored settings are never changed):\n"
    "  --list FILE          scan the ranges of this list file\n"
    "  --threads N          at most N + 1 workers at once (0..1000)\n"
    "  --timeout MS         echo time-out in milliseconds (1..600000)\n"
    "  --keep-silent        keep the rows of addresses that did not answer\n"
    "  --safe-mode          node-status queries one at a time\n"
    "  --encoding ENC       utf8 (default) or cp932\n"
    "  -h, --help           this text\n"
    "\n"
    "Ctrl+C stops the scan: started probes finish, then the rows are printed.\n"
    "Exit status: 0 done, 1 the scan reported an error, 2 bad arguments.\n";

struct Options {
    std::vector<AddressRange> ranges;
    std::string listFile;
    bool hasList = false;
    int threads = -1;
    int timeout = -1;
    bool keepSilent = false;
    bool safeMode = false;
    bool cp932 = false;
};

bool ParseNumber(const char* text, long low, long high, int& out) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high)
        return false;
    out = static_cast<int>(value);
    return true;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "vopal-scan: %s\n(see vopal-scan --help)\n", message.c_str());
    return kExitUsage;
}

// Returns -1 to go on, else the exit code.
int ParseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc)
                return nullptr;
            (void)name;
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--list") {
            const char* v = value("--list");
            if (!v || !*v)
                return UsageError("--list needs a file name");
            options.listFile = v;
            options.hasList = true;
        } else if (arg == "--threads") {
            if (!ParseNumber(value("--threads"), 0, 1000, options.threads))
                return UsageError("--threads needs a number from 0 to 1000");
        } else if (arg == "--timeout") {
            if (!ParseNumber(value("--timeout"), 1, 600000, options.timeout))
                return UsageError("--timeout needs milliseconds from 1 to 600000");
        } else if (arg == "--keep-silent") {
            options.keepSilent = true;
        } else if (arg == "--safe-mode") {
            options.safeMode = true;
        } else if (arg == "--encoding") {
            const char* v = value("--encoding");
            std::string enc = v ? LowerCaseAscii(v) : "";
            if (enc == "utf8" || enc == "utf-8")
                options.cp932 = false;
            else if (enc == "cp932" || enc == "sjis" || enc == "shift_jis")
                options.cp932 = true;
            else
                return UsageError("--encoding must be utf8 or cp932");
        } else if (arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9')) {
            return UsageError("unknown option " + arg);
        } else {
            AddressRange range;
            std::string error;
            if (!ParseRangeArgument(arg, range, error))
                return UsageError("bad range \"" + arg + "\": " + error);
            options.ranges.push_back(range);
        }
    }
    if (options.hasList && !options.ranges.empty())
        return UsageError("give either ranges or --list, not both");
    return -1;
}

// The scan's dialog as the command line has it: the view is kept in memory,
// the controls are nobody's, and the end of the manager wakes main().
class CommandLineScan : public ScanStartDialog {
public:
    ResultList* View() override { return &m_rows; }
    void EnableControl(int, bool) override {}
    void* MainWindow() override { return nullptr; }
    void OnManagerEnded() override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_ended = true;
        m_cv.notify_all();
    }

    // Waits for the end; calls `tick` about twice a second meanwhile.
    template <typename Tick> void WaitForEnd(Tick tick) {
        std::unique_lock<std::mutex> guard(m_lock);
        while (!m_cv.wait_for(guard, std::chrono::milliseconds(500), [this] { return m_ended; }))
            tick();
    }

    MemoryResultList m_rows;

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_ended = false;
};

void OnInterrupt(int) {
    StopRequested.store(1);
    // A second Ctrl+C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
}

std::atomic<bool> g_errorShown{false};

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (int rc = ParseArguments(argc, argv, options); rc >= 0)
        return rc;

    ProgramDirectoryInfo dir;
    if (FindProgramDirectory(dir)) {
        ScanSettings.ProgramDirectory = dir.display;
        ScanSettings.ProgramDirectoryPath = dir.path;
    }

    // Boxes go to standard error; an error box makes the exit status 1.
    SetMessageBoxHandler([](const MessageBoxRequest& box) {
        std::fprintf(stderr, "vopal-scan: [%s] %s\n", box.caption.c_str(), box.text.c_str());
        if (box.icon() == MB_ICONERROR)
            g_errorShown = true;
        return box.buttons() == MB_YESNO || box.buttons() == MB_YESNOCANCEL ? IDYES : IDOK;
    });

    LoadSettings();
    if (options.threads >= 0)
        ScanSettings.MaxThread = options.threads;
    if (options.timeout >= 0)
        ScanSettings.PingTimeout = options.timeout;
    if (options.keepSilent)
        ScanSettings.DontDeleteUnresolvedAddress = 1;
    if (options.safeMode)
        ScanSettings.SafeMode = 1;

    // The list file is the one way ranges reach the scan; ranges given here
    // go through a list file of their own.
    std::string temporaryList;
    if (!options.ranges.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vopal-scan-XXXXXX";
        int fd = mkstemp(pattern.data());
        if (fd < 0) {
            std::fprintf(stderr, "vopal-scan: cannot create a temporary list file: %s\n",
                         std::strerror(errno));
            return 1;
        }
        close(fd);
        temporaryList = pattern;
        MemoryRangeListRows rows;
        for (const AddressRange& range : options.ranges)
            rows.AddRange(range);
        if (!SaveRangeList(rows, temporaryList)) {
            unlink(temporaryList.c_str());
            return 1;
        }
        ScanSettings.IpListFileName = temporaryList;
    } else {
        if (options.hasList)
            ScanSettings.IpListFileName = options.listFile;
        if (access(ScanSettings.IpListFileName.c_str(), R_OK) != 0) {
            return UsageError("cannot read the list file \"" + ScanSettings.IpListFileName +
                              "\": " + std::strerror(errno));
        }
    }

    CommandLineScan scan;
    StopRequested.store(0);
    std::signal(SIGINT, OnInterrupt);

    auto* manager = new CThreadManager;
    if (!manager->CreateThread()) {
        delete manager;
        std::fprintf(stderr, "vopal-scan: cannot start the scan thread\n");
        if (!temporaryList.empty())
            unlink(temporaryList.c_str());
        return 1;
    }
    manager->m_pDialog = &scan;
    manager->ResumeThread();

    const bool progress = isatty(STDERR_FILENO);
    auto report = [&] {
        if (!progress)
            return;
        int rows = 0, answered = 0;
        for (const auto& row : scan.m_rows.Rows()) {
            ++rows;
            if (row[HostRecord::kResponse] == HostRecord::kAnswered)
                ++answered;
        }
        std::fprintf(stderr, "\rdrawn %u  rows %d  answered %d%s   ", AddressesDrawn.load(), rows,
                     answered, StopRequested.load() ? "  (stopping)" : "");
    };
    scan.WaitForEnd(report);
    if (progress) {
        report();
        std::fputc('\n', stderr);
    }
    std::signal(SIGINT, SIG_DFL);

    if (!temporaryList.empty())
        unlink(temporaryList.c_str());

    std::string text = FormatExportText(scan.m_rows);
    if (options.cp932) {
        std::string bytes;
        Utf8ToCp932(text, bytes);
        text = bytes;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return g_errorShown ? 1 : 0;
}
