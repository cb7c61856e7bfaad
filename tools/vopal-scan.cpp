// vopal-scan: the scan engine on the command line. Runs the same manager,
// workers, probes and range table as the window, with the stored settings
// (overridable for this run only), and prints the remaining rows as CSV in the
// export layout, or as JSON Lines, or on a terminal as a table to read.

#include "core/settings/ScanSettings.h"
#include "core/settings/SettingsStore.h"
#include "platform/os/DescriptorLimit.h"
#include "platform/win32/IcmpEcho.h"
#include "platform/net/RawIcmpSockets.h"
#include "platform/win32/UserMessage.h"
#include "platform/os/ProgramDirectory.h"
#include "platform/text/TextCodec.h"
#include "core/ranges/AddressRange.h"
#include "core/ranges/AddressRangeTable.h"
#include "core/ranges/RangeArgument.h"
#include "core/scan/ScanEngine.h"
#include "core/inventory/sqlite/InventoryStore.h"
#include "tools/VopalScanArguments.h"
#include "core/inventory/postgres/PgInventory.h"
#include "core/inventory/delivery/SharedRecording.h"
#include "platform/postgres/PgConnection.h"
#include "core/inventory/HostArgument.h"
#include "core/inventory/HostIdentity.h"
#include "core/inventory/InventoryReport.h"
#include "core/inventory/JsonReport.h"
#include "core/inventory/sqlite/ScanRecording.h"
#include "core/scan/HostRecord.h"
#include "core/scan/MemoryScanSink.h"
#include "core/scan/RealScanProbes.h"
#include "core/scan/ScanRequest.h"
#include "core/commands/ExportFormat.h"
#include "core/commands/HostTable.h"
#include "core/watch/ChangeWatch.h"
#include "core/watch/WatchConfig.h"
#include "platform/outbound/HttpPost.h"
#include "platform/outbound/ShellHook.h"

#include <atomic>
#include <cerrno>
#include <algorithm>
#include <chrono>
#include <memory>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Written by the interrupt handler, read by main's wait: the handler itself
// may do nothing but write a byte.
int g_wakeUp[2] = {-1, -1};
std::atomic<int> g_interrupts{0};

// Ctrl+C (or SIGTERM) stops the scan; a second one ends the program at once,
// as if it had no handler. Async-signal-safe.
void OnInterrupt(int signal) {
    if (g_interrupts.fetch_add(1) == 0) {
        const char byte = 's';
        [[maybe_unused]] ssize_t n = write(g_wakeUp[1], &byte, 1);
        return;
    }
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(128 + signal);
}

void HandleInterrupts(void (*handler)(int)) {
    std::signal(SIGINT, handler);
    std::signal(SIGTERM, handler);
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

} // namespace

// Opens the inventory, telling on standard error what went wrong and where
// a file that was no inventory went; null when it cannot be used.
std::unique_ptr<InventoryStore> OpenInventory(const std::string& path, bool toRead = false) {
    InventoryStore::Opened opened =
        toRead ? InventoryStore::OpenToRead(path) : InventoryStore::Open(path);
    if (!opened.keptAside.empty())
        std::fprintf(stderr,
                     "vopal-scan: \"%s\" could not be used (%s); it is kept as \"%s\" and a "
                     "new one was started\n",
                     path.c_str(), opened.whyAside.c_str(), opened.keptAside.c_str());
    if (!opened.store)
        std::fprintf(stderr, "vopal-scan: cannot open the inventory \"%s\": %s\n", path.c_str(),
                     opened.error.c_str());
    return std::move(opened.store);
}

// The inventory at `database` (a file or a server) for reading; null, told
// on standard error, when there is none or it cannot be used.
std::unique_ptr<InventoryMemory> OpenToRead(const std::string& database) {
    if (IsPostgresUri(database)) {
        std::string error;
        std::unique_ptr<PgInventory> server = PgInventory::Open(database, error);
        if (!server)
            std::fprintf(stderr, "vopal-scan: cannot reach the inventory server: %s\n",
                         PlainText(error).c_str());
        return server;
    }
    struct stat info {};
    if (stat(database.c_str(), &info) != 0) {
        std::fprintf(stderr, "vopal-scan: no inventory at \"%s\" yet\n", database.c_str());
        return nullptr;
    }
    return OpenInventory(database, true);
}

// This machine's name, the default site.
std::string HostName() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string name = PlainText(host);
    return name.empty() ? "localhost" : name.substr(0, 64);
}

// An id for a scan no other scan of the site has: 128 random bits in hex.
std::string NewSiteScanId() {
    std::random_device random;
    std::string id;
    char part[9];
    for (int i = 0; i < 4; ++i) {
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
        id += part;
    }
    return id;
}

// A run's standard output: the first failure to write it, as errno had it;
// 0: none. Kept until the run ends, which tells it.
struct Output {
    int writeError = 0;
};

void WriteOut(Output& out, std::string text, bool cp932) {
    if (cp932) {
        std::string bytes;
        Utf8ToCp932(text, bytes);
        text = bytes;
    }
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && out.writeError == 0)
        out.writeError = errno ? errno : EIO;
}

// Flushes standard output: output that did not arrive in full (a full disk,
// a closed pipe) is an error the user is told of, not a success. True when
// everything was written.
bool FinishOutput(Output& out) {
    errno = 0;
    if (std::fflush(stdout) != 0 && out.writeError == 0)
        out.writeError = errno ? errno : EIO;
    if (std::ferror(stdout) && out.writeError == 0)
        out.writeError = EIO;
    if (out.writeError == 0)
        return true;
    std::fprintf(stderr, "vopal-scan: cannot write the output: %s\n",
                 std::strerror(out.writeError));
    return false;
}

// --history: one host's timeline. Exit 0 when the inventory knows the host.
int PrintHistory(const Options& options, Output& out) {
    const std::unique_ptr<InventoryMemory> store = OpenToRead(options.database);
    if (!store)
        return 1;
    const HostHistory history = store->History(options.history, options.site);
    if (!store->ReadError().empty()) {
        std::fprintf(stderr, "vopal-scan: cannot read the inventory \"%s\": %s\n",
                     options.database.c_str(), PlainText(store->ReadError()).c_str());
        return 1;
    }
    if (history.identity.empty()) {
        std::fprintf(stderr, "vopal-scan: the inventory knows no host \"%s\"\n",
                     PlainText(options.history).c_str());
        return 1;
    }
    std::string text;
    if (options.format == Format::Json)
        for (const HistoryEntry& entry : history.entries)
            text += HistoryJsonLine(history, entry);
    else if (options.format == Format::Csv)
        text = FormatHistoryText(HistoryRows(history));
    else
        text = HistoryTerminalText(history);
    WriteOut(out, text, options.cp932);
    return FinishOutput(out) ? 0 : 1;
}

// How many addresses the ranges hold (each range's own count, as it walks).
double AddressCount(const std::vector<AddressRange>& ranges) {
    double count = 0;
    for (const AddressRange& range : ranges)
        count += static_cast<double>(static_cast<std::uint32_t>(range.end - range.start)) + 1;
    return count;
}

// The inventory file in a service's state directory (systemd's
// StateDirectory=, the first one when there are several); empty without one.
std::string StateDirectoryInventory() {
    const char* state = std::getenv("STATE_DIRECTORY");
    if (!state || !*state)
        return {};
    return std::string(state).substr(0, std::string(state).find(':')) + "/" + kInventoryFileName;
}

// --watch: the file's ranges, receivers, command and inventory become the
// run's. Returns -1 to go on, else the exit code.
int TakeWatchFile(Options& options, std::int64_t& intervalMs) {
    WatchConfig config;
    std::string error;
    if (!ReadWatchConfig(options.watchFile, config, error)) {
        std::fprintf(stderr, "vopal-scan: %s\n", error.c_str());
        return kExitUsage;
    }
    for (const std::string& url : config.notify) {
        std::string why;
        if (!IsNotifyUrl(url, why))
            return UsageError(options.watchFile + ": notify: " + PlainText(why));
        options.watch.notify.push_back(url);
    }
    // What the command line gives holds over the file; receivers add up.
    if (options.watch.onChange.empty())
        options.watch.onChange = config.onChange;
    if (!options.timeoutGiven)
        options.watch.onChangeTimeout = config.onChangeTimeout;
    options.ranges = config.ranges;
    options.changes = true;
    if (options.database.empty())
        options.database = config.database;
    if (options.site.empty())
        options.site = config.site;
    if (IsPostgresUri(options.database) &&
        (!options.watch.notify.empty() || !options.watch.onChange.empty()))
        return UsageError(options.watchFile +
                          ": notify and on-change work with an inventory file, not with a "
                          "server as the database");
    if (options.database.empty())
        options.database = StateDirectoryInventory();
    if (options.database.empty())
        return UsageError(options.watchFile + ": no database; give \"database = FILE\"");
    intervalMs = static_cast<std::int64_t>(config.interval.count()) * 1000;
    return -1;
}

// Whether the last scan recorded in the inventory started less than the
// interval ago: then a watching run has nothing to do yet.
bool NotDueYet(const std::string& database, const std::string& site, std::int64_t intervalMs) {
    struct stat info {};
    if (!IsPostgresUri(database) && stat(database.c_str(), &info) != 0)
        return false;
    const std::unique_ptr<InventoryMemory> store = OpenToRead(database);
    const std::optional<StoredScan> last = store ? store->LatestScan(site) : std::nullopt;
    if (!last || UnixTimeMs() - last->startedMs >= intervalMs)
        return false;
    if (isatty(STDERR_FILENO))
        std::fprintf(stderr, "vopal-scan: the last scan started %s; the next is due %lld s later\n",
                     LocalDateTimeText(last->startedMs).c_str(),
                     static_cast<long long>((last->startedMs + intervalMs - UnixTimeMs()) / 1000));
    return true;
}

// This process, as the claims on notices name it.
std::string Claimer() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    return std::string(host) + ":" + std::to_string(getpid()) + ":" +
           std::to_string(UnixTimeMs());
}

WatchTools RealWatchTools(const CurlGlobal& curl) {
    WatchTools tools;
    tools.send = [&curl](const WaitingNotice& notice, const std::string& document,
                         const std::string& key) {
        HttpPostRequest request;
        request.url = notice.target;
        request.body = document;
        request.headers = {"Idempotency-Key: " + key};
        const HttpPostResult result = HttpPost(curl, request);
        NoticeSendResult sent;
        sent.outcome = result.outcome == HttpPostResult::Outcome::Delivered
                           ? NoticeSendResult::Outcome::Delivered
                       : result.outcome == HttpPostResult::Outcome::Redirected
                           ? NoticeSendResult::Outcome::Redirected
                           : NoticeSendResult::Outcome::Failed;
        sent.detail = result.detail;
        return sent;
    };
    tools.runHook = [](const std::string& command, const std::string& input,
                       std::chrono::milliseconds timeout,
                       const std::vector<std::string>& environment) {
        ShellHookRequest request;
        request.command = command;
        request.input = input;
        request.timeout = timeout;
        request.environment = environment;
        const ShellHookResult result = RunShellHook(request);
        HookEnd end;
        end.started = result.started;
        end.timedOut = result.timedOut;
        end.exitStatus = result.exitStatus;
        end.signal = result.signal;
        end.errors = result.errors;
        end.errorsDropped = result.errorsDropped;
        end.failure = result.failure;
        return end;
    };
    tools.warn = [](const std::string& line) {
        std::fprintf(stderr, "vopal-scan: %s\n", line.c_str());
    };
    tools.claimer = Claimer();
    return tools;
}

// What the steps of one run share.
struct Run {
    Options options;
    // The stored settings, found in the program directory as the window finds them.
    ScanSettingsRecord settings;
    ProgramDirectoryInfo dir;
    bool haveDirectory = false;
    bool tells = false; // receivers or a command hear of the changes
    // An error has been told (a message with the error icon, a scan that
    // could not be recorded): the exit status is 1. Set from the scan's
    // threads too.
    std::atomic<bool> failed{false};
    // The scan as it was made, for its recording.
    std::vector<AddressRange> ranges;
    ScanOptions scanOptions;
    std::int64_t startedMs = 0;
    Output out;
};

// What the window shows in a box goes to standard error, as the box would
// say it; an error among them makes the run fail.
void PrintMessage(const UserMessage& message, Run& run) {
    std::fprintf(stderr, "vopal-scan: [%s] %s\n", message.caption.c_str(), message.text.c_str());
    if (message.icon() == MB_ICONERROR)
        run.failed = true;
}

// The arguments, the watch file and the program directory: what the run is
// to do and where its files are. Returns -1 to go on, else the exit status.
int ResolveRun(int argc, char** argv, Run& run) {
    Options& options = run.options;
    if (int rc = ParseArguments(argc, argv, options); rc >= 0)
        return rc == 0 && !FinishOutput(run.out) ? 1 : rc;
    if (!options.watchFile.empty()) {
        std::int64_t intervalMs = -1;
        if (int rc = TakeWatchFile(options, intervalMs); rc >= 0)
            return rc;
        if (options.site.empty())
            options.site = HostName();
        if (NotDueYet(options.database, options.site, intervalMs))
            return 0;
    }
    RaiseDescriptorLimit();

    // The directory of the default list file, the same one the window uses.
    run.haveDirectory = FindProgramDirectory(run.dir) == ProgramDirectoryResult::Found;
    if (run.haveDirectory) {
        run.settings.ProgramDirectory = run.dir.display;
        run.settings.ProgramDirectoryPath = run.dir.path;
    }
    run.tells = !options.watch.notify.empty() || !options.watch.onChange.empty();
    if (options.database.empty() && (options.changes || run.tells || !options.history.empty())) {
        if (!run.haveDirectory)
            return UsageError("no program directory for the inventory; give --db FILE");
        options.database = run.dir.path + kInventoryFileName;
    }
    return -1;
}

// The stored settings with what the command line overrides for this run.
ScanOptions RunScanOptions(const Options& options, const ScanSettingsRecord& settings) {
    ScanOptions scan = ScanOptionsFrom(settings);
    scan.fastScan = !options.threadEngine;
    if (options.rate > 0)
        scan.rate = options.rate;
    if (options.maxRate > 0)
        scan.maxRate = options.maxRate;
    if (options.threads >= 0)
        scan.maxThread = options.threads;
    if (options.timeout >= 0)
        scan.pingTimeoutMs = options.timeout;
    // Without a time-out of its own, the event-driven engine learns its wait.
    scan.adaptiveWait = options.timeout < 0;
    scan.lastOctetRule = true;
    if (options.keepSilent)
        scan.keepSilent = true;
    if (options.safeMode)
        scan.safeMode = true;
    scan.nameSources = NameSourcesOf(options);
    return scan;
}

// Reads the list file into the scan's ranges, telling what it refuses (once,
// on standard error). Exits 1 when lines were refused and no range is left.
// Returns -1 to go on.
int TakeListFileRanges(const std::string& path, Run& run) {
    AddressRangeTable table;
    table.LoadFromFile(path);
    for (const UserMessage& message : table.Messages())
        PrintMessage(message, run);
    if (table.RefusedLines() > 0 && table.RangeCount() == 0) {
        std::fprintf(stderr, "vopal-scan: no line of the list file \"%s\" is a range to scan\n",
                     path.c_str());
        return 1;
    }
    for (int i = 0; i < table.RangeCount(); ++i)
        run.options.ranges.push_back(table.Range(i));
    return -1;
}

// The ranges given, else those of the list file (--list, else the stored
// one). Returns -1 to go on, else the exit status.
int TakeRanges(Run& run) {
    Options& options = run.options;
    if (!options.ranges.empty())
        return -1;
    if (!options.hasList && !run.haveDirectory &&
        run.settings.IpListFileName == kDefaultListFileName)
        // The default list would otherwise be read from the current
        // directory, which is not where the window keeps it.
        return UsageError("no program directory for the default list file" +
                          (run.dir.path.empty() ? std::string() : " (" + run.dir.path + ")") +
                          "; give ranges or --list");
    const std::string list = options.hasList ? options.listFile : run.settings.IpListFileName;
    const std::string problem = ListFileProblem(list);
    if (!problem.empty())
        return UsageError("cannot read the list file \"" + list + "\": " + problem);
    return TakeListFileRanges(list, run);
}

// The scan the run asks for. Returns -1 to go on, else the exit status.
int ResolveRequest(Run& run, ScanRequest& request) {
    SettingsStore store;
    store.Load(run.settings);
    request.options = RunScanOptions(run.options, run.settings);
    if (int rc = TakeRanges(run); rc >= 0)
        return rc;
    request.ranges = run.options.ranges;
    return -1;
}

// The progress line on standard error: what went out, what answered, the
// pace and the time left.
void ReportProgress(MemoryScanSink& sink, const ScanOptions& options, double total,
                    std::chrono::steady_clock::time_point started) {
    int answered = 0, named = 0;
    // Read from the values: making every row's cells twice a second would
    // cost more than the count.
    sink.rows.ForEachRecord([&](const HostRecord& row) {
        answered += row.response == HostRecord::Response::Answered;
        named += row.hasMac;
    });
    const unsigned sent = sink.Drawn();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // The engine's own pace when it has one (the event-driven engine),
    // else what went out so far.
    const double rate = sink.Rate() > 0 ? sink.Rate() : seconds > 0 ? sent / seconds : 0;
    // The addresses left at that rate, then the last probe's wait.
    const double wait =
        options.adaptiveWait && options.fastScan ? 1.0 : options.pingTimeoutMs / 1000.0;
    const double left = (rate > 0 ? (total - sent) / rate : 0) + (sent < total ? wait : 0);
    std::fprintf(stderr, "\rsent %u/%.0f  answered %d  names %d  %.0f/s  left %.0f s%s   ", sent,
                 total, answered, named, rate, std::max(0.0, left),
                 g_interrupts.load() ? "  (stopping)" : "");
}

// Runs the scan to its end; Ctrl+C stops it. Its notices are told on
// standard error as they come. Returns -1 to go on, else the exit status.
int ScanToTheEnd(Run& run, ScanRequest request, ScanProbes& probes, MemoryScanSink& sink) {
    if (pipe2(g_wakeUp, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "vopal-scan: %s\n", std::strerror(errno));
        return 1;
    }
    sink.SetOnFinished([] {
        const char byte = 'e';
        [[maybe_unused]] ssize_t n = write(g_wakeUp[1], &byte, 1);
    });
    sink.SetOnNotice([&run](const ScanNotice& notice) { PrintMessage(notice.message, run); });
    run.scanOptions = request.options;
    run.ranges = request.ranges;
    run.startedMs = UnixTimeMs();
    const double total = AddressCount(request.ranges);
    const std::unique_ptr<ScanEngine> engine = MakeScanEngine(std::move(request), sink, probes);
    HandleInterrupts(OnInterrupt);
    const auto started = std::chrono::steady_clock::now();
    if (!engine->Start()) {
        HandleInterrupts(SIG_DFL);
        std::fprintf(stderr, "vopal-scan: cannot start the scan thread\n");
        return 1;
    }
    const bool progress = isatty(STDERR_FILENO);
    // Wakes for the end of the scan, for a signal, and twice a second for
    // the progress line.
    while (!sink.Ended()) {
        pollfd wake{g_wakeUp[0], POLLIN, 0};
        if (poll(&wake, 1, 500) > 0) {
            char bytes[16];
            const ssize_t n = read(g_wakeUp[0], bytes, sizeof bytes);
            if (n > 0 && std::memchr(bytes, 's', static_cast<size_t>(n)))
                engine->Stop();
        }
        if (progress)
            ReportProgress(sink, run.scanOptions, total, started);
    }
    engine->Wait();
    if (progress) {
        ReportProgress(sink, run.scanOptions, total, started);
        std::fputc('\n', stderr);
    }
    HandleInterrupts(SIG_DFL);
    return -1;
}

// Where the scan went in the inventory and what it changed.
struct Recording {
    std::int64_t id = -1; // -1: not recorded, or its changes could not be read
    std::vector<ReportedChange> changes;
    std::unique_ptr<InventoryStore> inventory; // the inventory file it went into
    std::unique_ptr<InventoryMemory> shared;   // the server (or the site's file) it went to
};

// Records on the PostgreSQL server; a scan the server cannot take now waits
// in the site's own inventory.
void RecordOnServer(const Run& run, RecordedScan recorded, Recording& recording) {
    const Options& options = run.options;
    std::string local = StateDirectoryInventory();
    if (local.empty() && run.haveDirectory)
        local = run.dir.path + kInventoryFileName;
    SharedRecording done = RecordShared(options.database, local, std::move(recorded));
    for (const std::string& note : done.notes)
        std::fprintf(stderr, "vopal-scan: %s\n", note.c_str());
    if (done.id < 0)
        std::fprintf(stderr, "vopal-scan: %s\n", done.error.c_str());
    recording.id = done.id;
    recording.shared = std::move(done.memory);
    if (recording.id >= 0 && options.changes)
        recording.changes = recording.shared->ChangesOf(recording.id);
    if (recording.id >= 0 && !recording.shared->ReadError().empty()) {
        std::fprintf(stderr, "vopal-scan: cannot read the changes: %s\n",
                     PlainText(recording.shared->ReadError()).c_str());
        recording.id = -1;
    }
}

// Records in the inventory file.
void RecordInFile(const Run& run, const RecordedScan& recorded, Recording& recording) {
    const Options& options = run.options;
    recording.inventory = OpenInventory(options.database);
    if (!recording.inventory)
        return;
    InventoryStore& inventory = *recording.inventory;
    std::string error;
    recording.id = inventory.Record(recorded, error);
    if (!inventory.KeptAside().empty() && recording.id >= 0)
        std::fprintf(stderr, "vopal-scan: %s; the scan was recorded in a new \"%s\"\n",
                     error.c_str(), options.database.c_str());
    if (recording.id < 0)
        std::fprintf(stderr, "vopal-scan: cannot record the scan in \"%s\": %s\n",
                     options.database.c_str(), error.c_str());
    else if (options.changes)
        recording.changes = inventory.ChangesOf(recording.id);
    if (recording.id >= 0 && !inventory.ReadError().empty()) {
        std::fprintf(stderr, "vopal-scan: cannot read the changes from \"%s\": %s\n",
                     options.database.c_str(), PlainText(inventory.ReadError()).c_str());
        recording.id = -1;
    }
}

// Records the scan in the run's inventory, when it has one. A scan that
// failed at its start (no adapter, no ICMP socket) probed nothing: there is
// nothing to record, and the error has been told.
Recording Record(Run& run, MemoryScanSink& sink) {
    Recording recording;
    const Options& options = run.options;
    if (options.database.empty() || sink.Summary().failed)
        return recording;
    RecordedScan recorded = RecordingOf(sink.rows, run.ranges, run.scanOptions, run.startedMs,
                                        UnixTimeMs(), sink.Summary().Complete());
    recorded.notify = options.watch.notify;
    recorded.site = options.site;
    recorded.siteScan = NewSiteScanId();
    if (IsPostgresUri(options.database))
        RecordOnServer(run, std::move(recorded), recording);
    else
        RecordInFile(run, recorded, recording);
    if (recording.id < 0)
        run.failed = true;
    return recording;
}

// The rows, as CSV in the export layout or as JSON Lines, or for a person
// at a terminal who asked for no format, as a table. A watching run tells
// only what changed: its rows would fill the journal of a service at every
// interval.
void PrintRows(const Options& options, MemoryScanSink& sink, Output& out) {
    if (!options.watchFile.empty())
        return;
    if (!options.formatGiven && isatty(STDOUT_FILENO)) {
        WriteOut(out, FormatHostTable(sink.rows.Records()), options.cp932);
        return;
    }
    if (options.format != Format::Json) {
        WriteOut(out, FormatExportText(sink.rows), options.cp932);
        return;
    }
    // Written as it is made, a block at a time: the lines of a large scan
    // are many times the size of its rows.
    std::string text;
    sink.rows.ForEachRecord([&text, &out](const HostRecord& row) {
        text += RowJsonLine(row);
        if (text.size() >= 64 * 1024) {
            WriteOut(out, std::move(text), false);
            text.clear();
        }
    });
    WriteOut(out, std::move(text), false);
}

// What changed since the last scan, after the rows.
void PrintChanges(const Options& options, const std::vector<ReportedChange>& changes, Output& out) {
    if (options.format == Format::Json) {
        std::string text;
        for (const ReportedChange& change : changes)
            text += ChangeJsonLine(change);
        WriteOut(out, text, false);
    } else if (options.format == Format::Csv) {
        WriteOut(out, "\r\n" + FormatChangesText(ChangeRows(changes)), options.cp932);
    } else {
        WriteOut(out,
                 changes.empty() ? "\nno change since the last scan\n"
                                 : "\nchanges since the last scan:\n" +
                                       ChangesTerminalText(ChangeRows(changes)),
                 options.cp932);
    }
}

// Tells the receivers and the command of the changes. A run without
// receivers or a command still delivers what earlier runs left waiting; one
// with nothing to tell writes no run log. How it goes never changes the exit
// status.
void TellChangesOf(const Run& run, const Recording& recording, const CurlGlobal& curl) {
    InventoryStore* inventory = recording.inventory.get();
    if (!inventory || recording.id < 0 || (!run.tells && inventory->Outbox().Waiting().empty()))
        return;
    WatchLog log(WatchLog::PathBeside(run.options.database));
    TellChanges(*inventory, recording.id, run.options.watch, RealWatchTools(curl), log);
}

int main(int argc, char** argv) {
    // Before anything else, while this is the only thread: the addresses to
    // notify are read by libcurl's parser.
    const CurlGlobal curl;
    Run run;
    if (int rc = ResolveRun(argc, argv, run); rc >= 0)
        return rc;
    if (!run.options.history.empty())
        return PrintHistory(run.options, run.out);
    if (run.options.site.empty())
        run.options.site = HostName();
    for (const std::string& line : IgnoredOptions(run.options))
        std::fprintf(stderr, "vopal-scan: %s\n", line.c_str());
    ScanRequest request;
    if (int rc = ResolveRequest(run, request); rc >= 0)
        return rc;
    // Raw ICMP sockets, where ping sockets are refused, come from our helper.
    IcmpEchoService echo(FindIcmpHelperOfThisProgram());
    RealScanProbes probes(echo);
    MemoryScanSink sink;
    if (int rc = ScanToTheEnd(run, std::move(request), probes, sink); rc >= 0)
        return rc;
    const Recording recording = Record(run, sink);
    PrintRows(run.options, sink, run.out);
    if (run.options.changes && !run.failed)
        PrintChanges(run.options, recording.changes, run.out);
    const bool written = FinishOutput(run.out);
    // Told after the output, which a slow receiver must not hold up.
    TellChangesOf(run, recording, curl);
    if (!written || run.failed)
        return 1;
    return recording.changes.empty() ? 0 : kExitChanges;
}
