// vopal-scan: the scan engine on the command line. Runs the same manager,
// workers, probes and range table as the window, with the stored settings
// (overridable for this run only), and prints the remaining rows as CSV in the
// export layout.

#include "app/ScanSettings.h"
#include "platform/DescriptorLimit.h"
#include "platform/MessageBox.h"
#include "platform/ProgramDirectory.h"
#include "platform/TextCodec.h"
#include "ranges/AddressRange.h"
#include "ranges/AddressRangeTable.h"
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
#include <fcntl.h>
#include <limits.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
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
    "A second Ctrl+C ends the program at once, without printing.\n"
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

// The list file made for ranges given as arguments, for the interrupt handler
// to remove; empty while there is none.
char g_temporaryList[PATH_MAX] = "";
std::atomic<int> g_interrupts{0};

// Ctrl+C stops the scan; a second one ends the program at once, as if it had
// no handler, but removes the temporary list file first. Async-signal-safe.
void OnInterrupt(int signal) {
    if (g_interrupts.fetch_add(1) == 0) {
        StopRequested.store(1);
        return;
    }
    if (g_temporaryList[0] != '\0')
        unlink(g_temporaryList);
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(128 + signal);
}

// A list file must be a regular file that can be read; a directory or a
// device would give an empty scan. Empty when it is one, else the problem.
std::string ListFileProblem(const std::string& path) {
    // Non-blocking, so that a FIFO does not hold the open; it is refused below.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    struct stat info {};
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const bool directory = S_ISDIR(info.st_mode);
    close(fd);
    if (directory)
        return "it is a directory";
    if (!regular)
        return "it is not a regular file";
    return {};
}

std::atomic<bool> g_errorShown{false};

} // namespace

// Reads the list file as the scan will. When lines of it are refused, tells
// them (once) and puts the accepted ranges into `options.ranges`; exits 1 when
// no range is left. Returns -1 to go on.
int TakeAcceptedRanges(Options& options) {
    std::vector<MessageBoxRequest> boxes;
    MessageBoxHandler printing = SetMessageBoxHandler([&boxes](const MessageBoxRequest& box) {
        boxes.push_back(box);
        return IDOK;
    });
    AddressRangeTable table;
    table.LoadFromFile(ScanSettings.IpListFileName, nullptr);
    SetMessageBoxHandler(printing);
    if (table.RefusedLines() == 0)
        return -1; // the scan reads the file itself, with its own messages
    for (const MessageBoxRequest& box : boxes)
        MessageBoxA(box.owner, box.text.c_str(), box.caption.c_str(), box.type);
    if (table.RangeCount() == 0) {
        std::fprintf(stderr, "vopal-scan: no line of the list file \"%s\" is a range to scan\n",
                     ScanSettings.IpListFileName.c_str());
        return 1;
    }
    for (int i = 0; i < table.RangeCount(); ++i)
        options.ranges.push_back(table.Range(i));
    return -1;
}

int main(int argc, char** argv) {
    Options options;
    if (int rc = ParseArguments(argc, argv, options); rc >= 0)
        return rc;
    RaiseDescriptorLimit();

    // The directory of the default list file, the same one the window uses.
    ProgramDirectoryInfo dir;
    const ProgramDirectoryResult found = FindProgramDirectory(dir);
    if (found == ProgramDirectoryResult::Found) {
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
    StopRequested.store(0);
    std::signal(SIGINT, OnInterrupt);
    if (options.ranges.empty()) {
        if (options.hasList)
            ScanSettings.IpListFileName = options.listFile;
        else if (found != ProgramDirectoryResult::Found &&
                 ScanSettings.IpListFileName == kDefaultListFileName)
            // The default list would otherwise be read from the current
            // directory, which is not where the window keeps it.
            return UsageError("no program directory for the default list file" +
                              (dir.path.empty() ? std::string() : " (" + dir.path + ")") +
                              "; give ranges or --list");
        const std::string problem = ListFileProblem(ScanSettings.IpListFileName);
        if (!problem.empty()) {
            return UsageError("cannot read the list file \"" + ScanSettings.IpListFileName +
                              "\": " + problem);
        }
        // Lines that are not ranges are left out of the scan and told once,
        // here; the rest are scanned through a list of their own, so that the
        // scan does not tell them again.
        if (int rc = TakeAcceptedRanges(options); rc >= 0)
            return rc;
    }
    std::string temporaryList;
    if (!options.ranges.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vopal-scan-XXXXXX";
        if (pattern.size() >= sizeof g_temporaryList) {
            std::fprintf(stderr, "vopal-scan: the temporary directory's name is too long\n");
            return 1;
        }
        // Ctrl+C waits until the handler knows the file, so that it never
        // leaves one behind nor removes one that is not ours.
        sigset_t interrupt;
        sigemptyset(&interrupt);
        sigaddset(&interrupt, SIGINT);
        sigprocmask(SIG_BLOCK, &interrupt, nullptr);
        int fd = mkstemp(pattern.data());
        const int error = errno;
        if (fd >= 0)
            std::memcpy(g_temporaryList, pattern.c_str(), pattern.size() + 1);
        sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
        if (fd < 0) {
            std::fprintf(stderr, "vopal-scan: cannot create a temporary list file: %s\n",
                         std::strerror(error));
            return 1;
        }
        close(fd);
        temporaryList = pattern;
        MemoryRangeListRows rows;
        for (const AddressRange& range : options.ranges)
            rows.AddRange(range);
        if (!SaveRangeList(rows, temporaryList, nullptr)) {
            std::signal(SIGINT, SIG_DFL);
            unlink(temporaryList.c_str());
            return 1;
        }
        ScanSettings.IpListFileName = temporaryList;
    }

    CommandLineScan scan;

    auto* manager = new CThreadManager;
    if (!manager->CreateThread()) {
        delete manager;
        std::fprintf(stderr, "vopal-scan: cannot start the scan thread\n");
        std::signal(SIGINT, SIG_DFL);
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
