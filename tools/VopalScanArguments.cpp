#include "tools/VopalScanArguments.h"

#include "core/inventory/HostArgument.h"
#include "core/inventory/InventoryReport.h"
#include "core/ranges/RangeArgument.h"
#include "core/watch/WatchConfig.h"
#include "platform/outbound/HttpPost.h"
#include "platform/postgres/PgConnection.h"
#include "platform/os/ProgramDirectory.h"
#include "platform/text/TextCodec.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

const char* const kUsage =
    "usage: vopal-scan [options] [RANGE ...]\n"
    "\n"
    "Pings every address of the ranges, asks the hosts for their NetBIOS node status\n"
    "and prints one CSV line per host (export layout: title line, seven\n"
    "fields, \"-\" for an empty cell, CR LF line ends), or with --format json one\n"
    "JSON object per line.\n"
    "\n"
    "RANGE is a.b.c.d-e.f.g.h, a.b.c.d-h (last octet), a.b.c.d/n or a single address.\n"
    "Without ranges, the list file is scanned (--list, default: the stored list file).\n"
    "\n"
    "options (for this run only; the stored settings are never changed):\n"
    "  --list FILE          scan the ranges of this list file\n"
    "  --engine ENGINE      fast (default): one thread sends every address an echo\n"
    "                       request and a node-status query, paced; a host is there\n"
    "                       (response ○) when it answers either, refuses the query\n"
    "                       itself (port unreachable) or, on the local network, its\n"
    "                       neighbour (ARP) entry resolves. threads: a thread per\n"
    "                       probe, ○ for an answered echo, as the window scans by\n"
    "                       default\n"
    "  --rate N             fast engine: send N probes per second (1..1000000);\n"
    "                       without it the rate starts at 2000, doubles while\n"
    "                       the network keeps up and halves on signs of loss\n"
    "  --max-rate N         fast engine: never more than N probes per second\n"
    "  --threads N          threads engine: at most N + 1 workers at once (0..1000)\n"
    "  --timeout MS         echo time-out in milliseconds (1..600000); without it the\n"
    "                       fast engine learns its wait from the round trips and\n"
    "                       probes a silent address twice\n"
    "  --keep-silent        keep the rows of addresses that did not answer\n"
    "  --safe-mode          threads engine: node-status queries one at a time\n"
    "  --encoding ENC       utf8 (default) or cp932\n"
    "  --db FILE            also record the scan in this inventory database (SQLite;\n"
    "                       created when missing)\n"
    "  --db postgresql://…  record it on the PostgreSQL server many sites share\n"
    "                       (also postgres://; settings from the address and from\n"
    "                       libpq's files and variables: ~/.pgpass, PGSSLMODE, ...).\n"
    "                       When the server cannot be reached, the scan waits in the\n"
    "                       site's own inventory and is delivered, first, by the\n"
    "                       next run that reaches it\n"
    "  --site NAME          the site the scan is made at (default: the host name);\n"
    "                       with a server, changes are found per site; with\n"
    "                       --history, only that site's sightings\n"
    "  --changes            record the scan (in --db FILE, else in the window's\n"
    "                       inventory) and print after the rows what changed\n"
    "                       since the last scan\n"
    "  --history HOST       print one host's timeline (HOST: an address, or a MAC as\n"
    "                       001122334455, 00:11:22:33:44:55, 00-11-22-33-44-55 or\n"
    "                       0011.2233.4455) from the inventory instead of scanning\n"
    "  --notify URL         record the scan (as --changes does) and, when it\n"
    "                       brought changes, POST its notice (JSON, see\n"
    "                       vopal-scan-notice.schema.json) to\n"
    "                       URL (http or https; may be given more than once);\n"
    "                       one not delivered waits in the inventory and is sent\n"
    "                       again, first, by the next run that records there\n"
    "  --on-change COMMAND  record the scan and, when it brought changes, run\n"
    "                       COMMAND with /bin/sh -c, the notice on its standard\n"
    "                       input; its exit status and standard error go to\n"
    "                       vopal-scan.log beside the inventory\n"
    "  --on-change-timeout S  stop COMMAND after S seconds (1..3600, default 30)\n"
    "  --watch FILE         scan as the watch file says (ranges, interval,\n"
    "                       notify, on-change, database), like --changes but\n"
    "                       printing the changes only; does nothing when the\n"
    "                       last scan recorded started less than the interval ago\n"
    "  --format FORMAT      text (default) or csv: how --changes and --history print;\n"
    "                       json: JSON Lines (UTF-8, LF) for the rows, the changes\n"
    "                       and the timeline alike, no title line. Each line has\n"
    "                       \"type\" (row, change or history) and \"schema\" (1); a row\n"
    "                       has address, present, reasons, name, workgroup, mac,\n"
    "                       vendor, messengers, rtt_ms (null when unknown). The\n"
    "                       JSON Schema: vopal-scan-json.schema.json in the docs\n"
    "  -h, --help           this text\n"
    "\n"
    "On a terminal, standard error shows the progress.\n"
    "Ctrl+C (or SIGTERM) stops the scan at once; the rows found so far are printed.\n"
    "A second Ctrl+C ends the program at once, without printing.\n"
    "The first scan recorded into an inventory is the baseline: it notifies nothing.\n"
    "Exit status: 0 done (with --changes: and nothing changed), 1 the scan reported\n"
    "an error or the output could not be written, 2 bad arguments, 3 done and\n"
    "--changes found changes. A notice not delivered or a failed command does not\n"
    "change it.\n";

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

} // namespace

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
        } else if (arg == "--engine") {
            const char* v = value("--engine");
            const std::string engine = v ? v : "";
            if (engine != "fast" && engine != "threads")
                return UsageError("--engine must be fast or threads");
            options.threadEngine = engine == "threads";
        } else if (arg == "--rate") {
            if (!ParseNumber(value("--rate"), 1, 1000000, options.rate))
                return UsageError("--rate needs echo requests per second from 1 to 1000000");
        } else if (arg == "--max-rate") {
            if (!ParseNumber(value("--max-rate"), 1, 1000000, options.maxRate))
                return UsageError("--max-rate needs probes per second from 1 to 1000000");
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
        } else if (arg == "--db") {
            const char* v = value("--db");
            if (!v || !*v)
                return UsageError("--db needs a file name");
            options.database = v;
        } else if (arg == "--site") {
            const char* v = value("--site");
            const std::string site = v ? v : "";
            if (!IsSiteName(site))
                return UsageError("--site needs a name of 1 to 64 characters without control "
                                  "characters or spaces at either end");
            options.site = site;
        } else if (arg == "--changes") {
            options.changes = true;
        } else if (arg == "--history") {
            const char* v = value("--history");
            std::string error;
            if (!v)
                return UsageError("--history needs an address or a MAC address");
            if (!ParseHostArgument(v, options.history, error))
                return UsageError("--history: " + PlainText(error));
        } else if (arg == "--notify") {
            const char* v = value("--notify");
            std::string why;
            if (!v)
                return UsageError("--notify needs a URL");
            if (!IsNotifyUrl(v, why))
                return UsageError("--notify: " + PlainText(why));
            options.watch.notify.push_back(v);
        } else if (arg == "--on-change") {
            const char* v = value("--on-change");
            if (!v || !*v)
                return UsageError("--on-change needs a command");
            options.watch.onChange = v;
        } else if (arg == "--on-change-timeout") {
            int seconds = 0;
            if (!ParseNumber(value("--on-change-timeout"), 1, 3600, seconds))
                return UsageError("--on-change-timeout needs seconds from 1 to 3600");
            options.watch.onChangeTimeout = std::chrono::seconds(seconds);
            options.timeoutGiven = true;
        } else if (arg == "--watch") {
            const char* v = value("--watch");
            if (!v || !*v)
                return UsageError("--watch needs a file name");
            options.watchFile = v;
        } else if (arg == "--format") {
            const char* v = value("--format");
            const std::string format = v ? LowerCaseAscii(v) : "";
            if (format == "text")
                options.format = Format::Text;
            else if (format == "csv")
                options.format = Format::Csv;
            else if (format == "json")
                options.format = Format::Json;
            else
                return UsageError("--format must be text, csv or json");
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
    const bool tells = !options.watch.notify.empty() || !options.watch.onChange.empty();
    if (!options.history.empty() &&
        (options.hasList || !options.ranges.empty() || options.changes || tells))
        return UsageError("--history prints from the inventory; give no ranges, --list, "
                          "--changes, --notify or --on-change");
    if (!options.watchFile.empty() &&
        (options.hasList || !options.ranges.empty() || !options.history.empty()))
        return UsageError("--watch scans the ranges of its file; give no ranges, --list or "
                          "--history");
    if (tells && IsPostgresUri(options.database))
        return UsageError("--notify and --on-change work with an inventory file, not with a "
                          "server (--db postgresql://...)");
    // JSON is UTF-8 by definition; a CP932 JSON file would be read wrong.
    if (options.format == Format::Json && options.cp932)
        return UsageError("--format json is always UTF-8; leave out --encoding cp932");
    return -1;
}

