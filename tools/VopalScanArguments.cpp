#include "tools/VopalScanArguments.h"

#include "core/inventory/HostArgument.h"
#include "core/inventory/InventoryReport.h"
#include "core/ranges/RangeArgument.h"
#include "core/scan/HostRecord.h"
#include "core/watch/WatchConfig.h"
#include "platform/outbound/HttpPost.h"
#include "platform/postgres/PgConnection.h"
#include "platform/os/ProgramDirectory.h"
#include "platform/text/TextCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

namespace {

const char* const kUsage =
    "usage: vopal-scan [options] [RANGE ...]\n"
    "\n"
    "Pings every address of the ranges, asks the hosts for their NetBIOS node status\n"
    "and their names over mDNS, LLMNR and DNS, and prints one CSV line per host\n"
    "(export layout: title line, seven fields, \"-\" for an empty cell, CR LF line\n"
    "ends), or with --format json one JSON object per line. On a terminal, without\n"
    "--format, a table to read instead: address, response, the best name and its\n"
    "source, workgroup, MAC and vendor.\n"
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
    "  --names LIST         fast engine: where the names of the hosts there come\n"
    "                       from, comma-separated: netbios (node status, always\n"
    "                       asked: it must be in the list), mdns, llmnr, dns (the\n"
    "                       resolver's reverse lookup), or all (the default)\n"
    "  -n                   no DNS lookups (the other sources are still asked)\n"
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
    "  --format FORMAT      csv: the rows in the export layout, also on a terminal;\n"
    "                       text (default) or csv: how --changes and --history print;\n"
    "                       json: JSON Lines (UTF-8, LF) for the rows, the changes\n"
    "                       and the timeline alike, no title line. Each line has\n"
    "                       \"type\" (row, change or history) and \"schema\" (1); a row\n"
    "                       has address, present, reasons, name, workgroup, mac,\n"
    "                       vendor, messengers, rtt_ms (null when unknown). The\n"
    "                       JSON Schema: vopal-scan-json.schema.json in the docs\n"
    "  -h, --help           this text\n"
    "\n"
    "On a terminal, standard error shows the progress. An option the chosen engine\n"
    "does not use (--threads, --safe-mode with the fast engine; --rate, --max-rate,\n"
    "--names, -n with the threads engine) is told on standard error and ignored.\n"
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

// An option's value (null when the option is the last argument) taken into
// the options: empty when taken, else what is wrong with it.
using TakeValue = std::string (*)(const char* value, Options& options);

struct ValueOption {
    const char* name;
    TakeValue take;
};

// Numbers within their bounds.
struct NumberOption {
    const char* name;
    long low;
    long high;
    int Options::*field;
    const char* error;
};

constexpr NumberOption kNumberOptions[] = {
    {"--rate", 1, 1000000, &Options::rate,
     "--rate needs echo requests per second from 1 to 1000000"},
    {"--max-rate", 1, 1000000, &Options::maxRate,
     "--max-rate needs probes per second from 1 to 1000000"},
    {"--threads", 0, 1000, &Options::threads, "--threads needs a number from 0 to 1000"},
    {"--timeout", 1, 600000, &Options::timeout, "--timeout needs milliseconds from 1 to 600000"},
};

constexpr unsigned SourceBit(HostRecord::NameSource source) {
    return 1u << static_cast<unsigned>(source);
}

// "netbios,mdns,...", or "all": the sources as bits, else what is wrong.
std::string TakeNameSources(const char* value, Options& options) {
    const std::string list = value ? LowerCaseAscii(value) : "";
    if (list.empty())
        return "--names needs a list of sources: netbios, mdns, llmnr, dns or all";
    unsigned sources = 0;
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, end - start);
        HostRecord::NameSource source;
        if (item == "all")
            sources |= ScanOptions::kAllNameSources;
        else if (HostRecord::SourceOf(item, source))
            sources |= SourceBit(source);
        else
            return "--names: " +
                   (item.empty() ? std::string("an empty source")
                                 : "no source \"" + PlainText(item) + "\"") +
                   "; give netbios, mdns, llmnr, dns or all, comma-separated";
        start = end + 1;
    }
    // Node status is every scan's question (the computer name, workgroup
    // and MAC come from it); leaving it out would ask for what cannot be.
    if (!(sources & SourceBit(HostRecord::NameSource::Netbios)))
        return "--names must include netbios: the node-status query is always sent (the "
               "computer name, workgroup and MAC come from it)";
    options.nameSources = sources;
    options.namesGiven = true;
    return {};
}

// A value that must not be missing nor empty.
std::string Given(const char* value, const char* error) {
    return value && *value ? std::string() : error;
}

const ValueOption kValueOptions[] = {
    {"--list",
     [](const char* v, Options& o) {
         if (std::string error = Given(v, "--list needs a file name"); !error.empty())
             return error;
         o.listFile = v;
         o.hasList = true;
         return std::string();
     }},
    {"--engine",
     [](const char* v, Options& o) {
         const std::string engine = v ? v : "";
         if (engine != "fast" && engine != "threads")
             return std::string("--engine must be fast or threads");
         o.threadEngine = engine == "threads";
         return std::string();
     }},
    {"--encoding",
     [](const char* v, Options& o) {
         const std::string encoding = v ? LowerCaseAscii(v) : "";
         if (encoding == "utf8" || encoding == "utf-8")
             o.cp932 = false;
         else if (encoding == "cp932" || encoding == "sjis" || encoding == "shift_jis")
             o.cp932 = true;
         else
             return std::string("--encoding must be utf8 or cp932");
         return std::string();
     }},
    {"--db",
     [](const char* v, Options& o) {
         if (std::string error = Given(v, "--db needs a file name"); !error.empty())
             return error;
         o.database = v;
         return std::string();
     }},
    {"--site",
     [](const char* v, Options& o) {
         const std::string site = v ? v : "";
         if (!IsSiteName(site))
             return std::string("--site needs a name of 1 to 64 characters without control "
                                "characters or spaces at either end");
         o.site = site;
         return std::string();
     }},
    {"--history",
     [](const char* v, Options& o) {
         std::string error;
         if (!v)
             return std::string("--history needs an address or a MAC address");
         if (!ParseHostArgument(v, o.history, error))
             return "--history: " + PlainText(error);
         return std::string();
     }},
    {"--notify",
     [](const char* v, Options& o) {
         std::string why;
         if (!v)
             return std::string("--notify needs a URL");
         if (!IsNotifyUrl(v, why))
             return "--notify: " + PlainText(why);
         o.watch.notify.push_back(v);
         return std::string();
     }},
    {"--on-change",
     [](const char* v, Options& o) {
         if (std::string error = Given(v, "--on-change needs a command"); !error.empty())
             return error;
         o.watch.onChange = v;
         return std::string();
     }},
    {"--on-change-timeout",
     [](const char* v, Options& o) {
         int seconds = 0;
         if (!ParseNumber(v, 1, 3600, seconds))
             return std::string("--on-change-timeout needs seconds from 1 to 3600");
         o.watch.onChangeTimeout = std::chrono::seconds(seconds);
         o.timeoutGiven = true;
         return std::string();
     }},
    {"--watch",
     [](const char* v, Options& o) {
         if (std::string error = Given(v, "--watch needs a file name"); !error.empty())
             return error;
         o.watchFile = v;
         return std::string();
     }},
    {"--names", TakeNameSources},
    {"--format",
     [](const char* v, Options& o) {
         o.formatGiven = true;
         const std::string format = v ? LowerCaseAscii(v) : "";
         if (format == "text")
             o.format = Format::Text;
         else if (format == "csv")
             o.format = Format::Csv;
         else if (format == "json")
             o.format = Format::Json;
         else
             return std::string("--format must be text, csv or json");
         return std::string();
     }},
};

// Switches without a value.
const std::pair<const char*, bool Options::*> kSwitches[] = {
    {"--keep-silent", &Options::keepSilent},
    {"--safe-mode", &Options::safeMode},
    {"--changes", &Options::changes},
    {"-n", &Options::noDns},
};

// Takes the option `arg`, its value being argv[i + 1] (then i moves past
// it). Empty when taken, else what is wrong; nothing when `arg` names no
// option.
std::optional<std::string> TakeOption(const std::string& arg, int argc, char** argv, int& i,
                                      Options& options) {
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    for (const auto& [name, flag] : kSwitches)
        if (arg == name) {
            options.*flag = true;
            return std::string();
        }
    for (const NumberOption& option : kNumberOptions)
        if (arg == option.name)
            return ParseNumber(value(), option.low, option.high, options.*option.field)
                       ? std::string()
                       : option.error;
    for (const ValueOption& option : kValueOptions)
        if (arg == option.name)
            return option.take(value(), options);
    return std::nullopt;
}

// What is wrong with the options together; empty when nothing.
std::string ConflictOf(const Options& options) {
    if (options.hasList && !options.ranges.empty())
        return "give either ranges or --list, not both";
    const bool tells = !options.watch.notify.empty() || !options.watch.onChange.empty();
    if (!options.history.empty() &&
        (options.hasList || !options.ranges.empty() || options.changes || tells))
        return "--history prints from the inventory; give no ranges, --list, --changes, "
               "--notify or --on-change";
    if (!options.watchFile.empty() &&
        (options.hasList || !options.ranges.empty() || !options.history.empty()))
        return "--watch scans the ranges of its file; give no ranges, --list or --history";
    if (tells && IsPostgresUri(options.database))
        return "--notify and --on-change work with an inventory file, not with a server "
               "(--db postgresql://...)";
    // JSON is UTF-8 by definition; a CP932 JSON file would be read wrong.
    if (options.format == Format::Json && options.cp932)
        return "--format json is always UTF-8; leave out --encoding cp932";
    return {};
}

} // namespace

std::vector<std::string> IgnoredOptions(const Options& options) {
    std::vector<std::string> lines;
    const auto ignored = [&lines](bool given, const char* option, const char* why) {
        if (given)
            lines.push_back(std::string(option) + " is ignored: " + why);
    };
    const bool fast = !options.threadEngine;
    ignored(fast && options.threads >= 0, "--threads", "only --engine threads uses it");
    ignored(fast && options.safeMode, "--safe-mode", "only --engine threads uses it");
    ignored(!fast && options.rate > 0, "--rate", "the threads engine does not use it");
    ignored(!fast && options.maxRate > 0, "--max-rate", "the threads engine does not use it");
    ignored(!fast && options.namesGiven, "--names",
            "the threads engine asks NetBIOS node status only");
    ignored(!fast && options.noDns, "-n", "the threads engine asks NetBIOS node status only");
    return lines;
}

unsigned NameSourcesOf(const Options& options) {
    return options.noDns ? options.nameSources & ~SourceBit(HostRecord::NameSource::Dns)
                         : options.nameSources;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "vopal-scan: %s\n(see vopal-scan --help)\n", message.c_str());
    return kExitUsage;
}

// Returns -1 to go on, else the exit code.
int ParseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::string error;
        if (std::optional<std::string> taken = TakeOption(arg, argc, argv, i, options)) {
            error = *taken;
        } else if (arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9')) {
            error = "unknown option " + arg;
        } else {
            AddressRange range;
            std::string why;
            if (ParseRangeArgument(arg, range, why))
                options.ranges.push_back(range);
            else
                error = "bad range \"" + arg + "\": " + why;
        }
        if (!error.empty())
            return UsageError(error);
    }
    const std::string conflict = ConflictOf(options);
    return conflict.empty() ? -1 : UsageError(conflict);
}
