#include "core/watch/WatchConfig.h"

#include "platform/postgres/PgConnection.h"

#include "core/inventory/InventoryReport.h"
#include "core/ranges/RangeArgument.h"

#include <ini.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using std::chrono::seconds;

// More messages than this are summed up in one line: a file that is not a
// watch file at all should not fill the journal.
constexpr std::size_t kMessageLimit = 20;
// Values are shown up to this many bytes.
constexpr std::size_t kShownValueLimit = 80;
// 100 years of 365.25 days: far beyond any interval, and small enough that
// the span in nanoseconds, added to today's clock, cannot overflow.
constexpr std::uint64_t kMaxSpanSeconds = 3'155'760'000u;

const char* const kKeys =
    "ranges, interval, notify, on-change, on-change-timeout, database, site";

// Debian's inih reads its options from variables. A watch file is read with
// lines of any length up to the limit (on the heap), an indented line is a
// line of its own rather than the continuation of a value, and ';' after a
// value stays part of it (a shell command line or a URL may hold one).
void SetUpInih() {
    static std::once_flag once;
    std::call_once(once, [] {
        ini_allow_multiline = false;
        ini_allow_inline_comments = false;
        ini_allow_no_value = false;
        ini_stop_on_first_error = false;
        ini_use_stack = false;
        ini_allow_realloc = true;
        // The line, its '\n', and the '\0' with room to spare.
        ini_max_line = static_cast<int>(kWatchLineLimit) + 3;
    });
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// A value in a message: quoted, without control characters, and cut (at a
// character boundary) when long.
std::string Shown(std::string_view value) {
    if (value.size() <= kShownValueLimit)
        return "'" + PlainText(value) + "'";
    std::size_t cut = kShownValueLimit;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80)
        --cut;
    return "'" + PlainText(value.substr(0, cut)) + "...'";
}

std::string SpanText(seconds span) {
    return std::to_string(span.count()) + " s";
}

class Problems {
public:
    void Add(int line, const std::string& text) {
        Add("line " + std::to_string(line) + ": " + text);
    }
    void Add(const std::string& text) {
        if (m_messages.size() < kMessageLimit)
            m_messages.push_back(text);
        else
            ++m_more;
    }
    bool Any() const { return !m_messages.empty(); }
    bool HasLine(int line) const {
        const std::string prefix = "line " + std::to_string(line) + ":";
        for (const std::string& message : m_messages)
            if (message.compare(0, prefix.size(), prefix) == 0)
                return true;
        return false;
    }
    std::string Text() const {
        std::string text;
        for (const std::string& message : m_messages)
            text += (text.empty() ? "" : "\n") + message;
        if (m_more > 0)
            text += "\n(" + std::to_string(m_more) + " more problems not shown)";
        return text;
    }

private:
    std::vector<std::string> m_messages;
    std::size_t m_more = 0;
};

// What a line of the file is, before inih sees it. inih would report only the
// first line it cannot read and say nothing about the others; lines that are
// refused here are handed to it as empty lines, so that it reads only what it
// understands and the line numbers stay the file's.
enum class LineKind { Blank, Section, KeyValue, Refused };

LineKind CheckLine(std::string_view line, int number, Problems& problems) {
    if (line.size() > kWatchLineLimit) {
        problems.Add(number, "longer than " + std::to_string(kWatchLineLimit) + " bytes");
        return LineKind::Refused;
    }
    for (char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
            problems.Add(number, "holds a control character");
            return LineKind::Refused;
        }
    }
    const std::string_view text = Trimmed(line);
    if (text.empty() || text.front() == '#' || text.front() == ';')
        return LineKind::Blank;
    if (text.front() == '[') {
        if (text.back() != ']' || text.find(']') != text.size() - 1) {
            problems.Add(number, "a section line is a name in brackets alone, such as [watch]");
            return LineKind::Refused;
        }
        const std::string_view name = text.substr(1, text.size() - 2);
        if (name != "watch")
            problems.Add(number, "unknown section [" + PlainText(name) +
                                     "]; a watch file has only the section [watch]");
        return LineKind::Section;
    }
    // inih would also split "key: value"; only '=' is this file's separator.
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos ||
        text.substr(0, equals).find(':') != std::string_view::npos) {
        problems.Add(number, Shown(text) + " is neither 'key = value', a [section] nor a comment");
        return LineKind::Refused;
    }
    if (Trimmed(text.substr(0, equals)).empty()) {
        problems.Add(number, "no key before '='");
        return LineKind::Refused;
    }
    return LineKind::KeyValue;
}

struct Reading {
    std::string_view rest; // the text not yet handed to inih
    std::string current;   // the line being handed over, with its '\n'
    std::size_t offset = 0;
    int line = 0;
    Problems problems;

    WatchConfig config;
    bool sawRanges = false;
    int intervalLine = 0;
    int onChangeLine = 0;
    int onChangeTimeoutLine = 0;
    int databaseLine = 0;
    int siteLine = 0;
};

// inih's reader, fgets-like: hands over the current line in pieces as large
// as inih asks for, and takes the next line only when the current one is
// done, so that `line` is the number of the line inih is reading.
char* ReadNextLine(char* buffer, int size, void* stream) {
    auto& reading = *static_cast<Reading*>(stream);
    if (size < 2)
        return nullptr;
    if (reading.offset == reading.current.size()) {
        if (reading.rest.empty())
            return nullptr;
        const std::size_t end = reading.rest.find('\n');
        std::string_view line = reading.rest.substr(0, end);
        reading.rest.remove_prefix(end == std::string_view::npos ? reading.rest.size() : end + 1);
        ++reading.line;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (reading.line == 1 && line.substr(0, 3) == "\xEF\xBB\xBF")
            line.remove_prefix(3);
        const LineKind kind = CheckLine(line, reading.line, reading.problems);
        reading.current.assign(kind == LineKind::Refused ? std::string_view() : line);
        reading.current += '\n';
        reading.offset = 0;
    }
    const std::size_t count =
        std::min(static_cast<std::size_t>(size - 1), reading.current.size() - reading.offset);
    std::memcpy(buffer, reading.current.data() + reading.offset, count);
    buffer[count] = '\0';
    reading.offset += count;
    return buffer;
}

// A key that may be given once: false (with a message) when it was already.
bool FirstTime(Reading& reading, int& seenOnLine, const char* key) {
    if (seenOnLine != 0) {
        reading.problems.Add(reading.line, std::string("'") + key +
                                               "' is given a second time (first on line " +
                                               std::to_string(seenOnLine) + ")");
        return false;
    }
    seenOnLine = reading.line;
    return true;
}

void TakeRanges(Reading& reading, std::string_view value) {
    std::vector<AddressRange> ranges;
    std::size_t i = 0;
    while (i < value.size()) {
        if (IsBlank(value[i]) || value[i] == ',') {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < value.size() && !IsBlank(value[end]) && value[end] != ',')
            ++end;
        AddressRange range;
        std::string error;
        if (!ParseRangeArgument(value.substr(i, end - i), range, error)) {
            reading.problems.Add(reading.line, PlainText(error));
            return;
        }
        ranges.push_back(range);
        i = end;
    }
    if (ranges.empty()) {
        reading.problems.Add(reading.line, "'ranges' names no range");
        return;
    }
    reading.config.ranges.insert(reading.config.ranges.end(), ranges.begin(), ranges.end());
}

// A time span from `min` to `max`, or nothing (with a message).
std::optional<seconds> TakeSpan(Reading& reading, const char* key, std::string_view value,
                                seconds min, std::optional<seconds> max) {
    const std::optional<seconds> span = ParseTimeSpan(value);
    if (!span) {
        reading.problems.Add(reading.line, std::string(key) + " " + Shown(value) +
                                               " is not a time span (such as 900, 90s, "
                                               "15min, 2h or 1h 30min)");
        return std::nullopt;
    }
    if (*span < min || (max && *span > *max)) {
        reading.problems.Add(reading.line,
                             std::string(key) + " " + Shown(value) + " is " + SpanText(*span) +
                                 "; it must be at least " + SpanText(min) +
                                 (max ? " and at most " + SpanText(*max) : std::string()));
        return std::nullopt;
    }
    return span;
}

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

void TakeDatabase(Reading& reading, std::string_view value) {
    // A server's address is the server's to judge; it is never shown, as it
    // may hold a password.
    if (IsPostgresUri(value)) {
        reading.config.database = std::string(value);
        return;
    }
    if (value.front() != '/') {
        reading.problems.Add(reading.line,
                             "database " + Shown(value) +
                                 " is not an absolute path (it starts with '/') nor a "
                                 "postgresql:// address");
        return;
    }
    if (value.back() == '/') {
        reading.problems.Add(reading.line,
                             "database " + Shown(value) + " names a directory, not a file");
        return;
    }
    reading.config.database = std::string(value);
}

int TakeKey(void* user, const char* section, const char* name, const char* valueText) {
    auto& reading = *static_cast<Reading*>(user);
    const std::string_view key = name;
    const std::string_view value = valueText ? valueText : "";
    if (std::string_view(section) != "watch") {
        reading.problems.Add(reading.line, Shown(key) + " is outside the [watch] section");
        if (key == "ranges")
            reading.sawRanges = true; // the range to scan is there, in the wrong place
        return 1;
    }
    const bool known = key == "ranges" || key == "interval" || key == "notify" ||
                       key == "on-change" || key == "on-change-timeout" || key == "database" ||
                       key == "site";
    if (!known) {
        reading.problems.Add(reading.line,
                             "unknown key " + Shown(key) + " (the keys are " + kKeys + ")");
        return 1;
    }
    if (key == "ranges")
        reading.sawRanges = true;
    if (value.empty()) {
        reading.problems.Add(reading.line, Shown(key) + " has no value");
        return 1;
    }

    if (key == "ranges") {
        TakeRanges(reading, value);
    } else if (key == "notify") {
        reading.config.notify.emplace_back(value);
    } else if (key == "interval") {
        if (FirstTime(reading, reading.intervalLine, "interval"))
            if (auto span = TakeSpan(reading, "interval", value, std::chrono::minutes(1), {}))
                reading.config.interval = *span;
    } else if (key == "on-change") {
        if (FirstTime(reading, reading.onChangeLine, "on-change"))
            reading.config.onChange = std::string(value);
    } else if (key == "on-change-timeout") {
        if (FirstTime(reading, reading.onChangeTimeoutLine, "on-change-timeout"))
            if (auto span = TakeSpan(reading, "on-change-timeout", value, seconds(1),
                                     std::chrono::hours(1)))
                reading.config.onChangeTimeout = *span;
    } else if (key == "site") {
        if (FirstTime(reading, reading.siteLine, "site")) {
            if (!IsSiteName(value))
                reading.problems.Add(reading.line, "site " + Shown(value) +
                                                       " is no site name (1 to 64 characters)");
            else
                reading.config.site = std::string(value);
        }
    } else if (FirstTime(reading, reading.databaseLine, "database")) {
        TakeDatabase(reading, value);
    }
    return 1;
}

struct TimeUnit {
    std::string_view name;
    std::uint64_t seconds;
};

constexpr TimeUnit kTimeUnits[] = {
    {"s", 1},       {"sec", 1},       {"second", 1},     {"seconds", 1}, {"m", 60},
    {"min", 60},    {"minute", 60},   {"minutes", 60},   {"h", 3600},    {"hr", 3600},
    {"hour", 3600}, {"hours", 3600},  {"d", 86400},      {"day", 86400}, {"days", 86400},
    {"w", 604800},  {"week", 604800}, {"weeks", 604800},
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

std::optional<std::chrono::seconds> ParseTimeSpan(std::string_view text) {
    text = Trimmed(text);
    if (text.empty())
        return std::nullopt;
    std::uint64_t total = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (!IsDigit(text[i]))
            return std::nullopt;
        std::uint64_t number = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i) {
            number = number * 10 + static_cast<std::uint64_t>(text[i] - '0');
            if (number > kMaxSpanSeconds)
                return std::nullopt;
        }
        while (i < text.size() && IsBlank(text[i]))
            ++i;
        const std::size_t unitStart = i;
        while (i < text.size() && IsLetter(text[i]))
            ++i;
        std::uint64_t factor = 1;
        if (i > unitStart) {
            const std::string_view unit = text.substr(unitStart, i - unitStart);
            factor = 0;
            for (const TimeUnit& known : kTimeUnits)
                if (known.name == unit)
                    factor = known.seconds;
            if (factor == 0)
                return std::nullopt;
        }
        // number <= kMaxSpanSeconds and factor <= one week: no overflow.
        total += number * factor;
        if (total > kMaxSpanSeconds)
            return std::nullopt;
        while (i < text.size() && IsBlank(text[i]))
            ++i;
    }
    return seconds(static_cast<seconds::rep>(total));
}

bool ParseWatchConfig(std::string_view text, WatchConfig& config, std::string& error) {
    SetUpInih();
    Reading reading;
    reading.rest = text;
    const int result = ini_parse_stream(ReadNextLine, &reading, TakeKey, &reading);
    if (result > 0 && !reading.problems.HasLine(result))
        reading.problems.Add(result, "not understood");
    else if (result < 0)
        reading.problems.Add("not enough memory to read the file");
    if (!reading.sawRanges)
        reading.problems.Add("no ranges to scan: the [watch] section needs a line such as "
                             "'ranges = 192.168.1.0/24'");
    if (reading.problems.Any()) {
        error = reading.problems.Text();
        return false;
    }
    config = std::move(reading.config);
    return true;
}

bool ReadWatchConfig(const std::string& path, WatchConfig& config, std::string& error) {
    const std::string name = PlainText(path);
    // O_NONBLOCK: a FIFO in the file's place must not stall the scan.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = name + ": cannot be opened: " + std::strerror(errno);
        return false;
    }
    struct stat status {};
    std::string text;
    std::string problem;
    if (fstat(fd, &status) != 0) {
        problem = std::strerror(errno);
    } else if (!S_ISREG(status.st_mode)) {
        problem = "not a regular file";
    } else {
        char buffer[65536];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                problem = std::string("cannot be read: ") + std::strerror(errno);
                break;
            }
            if (n == 0)
                break;
            text.append(buffer, static_cast<std::size_t>(n));
            if (text.size() > kWatchFileLimit) {
                problem = "larger than " + std::to_string(kWatchFileLimit / 1024) +
                          " KiB; not a watch file";
                break;
            }
        }
    }
    close(fd);
    if (!problem.empty()) {
        error = name + ": " + problem;
        return false;
    }
    std::string messages;
    if (!ParseWatchConfig(text, config, messages)) {
        error.clear();
        std::size_t start = 0;
        while (start <= messages.size()) {
            std::size_t end = messages.find('\n', start);
            if (end == std::string::npos)
                end = messages.size();
            error +=
                (error.empty() ? "" : "\n") + name + ": " + messages.substr(start, end - start);
            start = end + 1;
        }
        return false;
    }
    return true;
}

bool IsSiteName(std::string_view name) {
    // Lines with control characters never get here; the C1 controls are
    // two bytes in UTF-8 (C2 80 to C2 9F).
    if (name.empty() || name.size() > 64 || name.front() == ' ' || name.back() == ' ')
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (IsControl(c) ||
            (c == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
             static_cast<unsigned char>(name[i + 1]) <= 0x9F))
            return false;
    }
    return true;
}
