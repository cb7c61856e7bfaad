// The watch file of scheduled scans: what it accepts, what it refuses with
// the line named, time spans, reading from disk, and the example file the
// package installs.

#include "core/watch/WatchConfig.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>

namespace {

using std::chrono::hours;
using std::chrono::minutes;
using std::chrono::seconds;
using namespace std::string_literals;

AddressRange Range(std::uint32_t start, std::uint32_t end) {
    return AddressRange{start, end};
}

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool HasNoControlCharacters(const std::string& message) {
    for (std::size_t i = 0; i < message.size(); ++i) {
        const auto byte = static_cast<unsigned char>(message[i]);
        if ((byte < 0x20 && message[i] != '\n') || byte == 0x7F)
            return false;
        // C1 controls in UTF-8: C2 80 to C2 9F.
        if (byte == 0xC2 && i + 1 < message.size() &&
            (static_cast<unsigned char>(message[i + 1]) & 0xE0) == 0x80)
            return false;
    }
    return true;
}

TEST(TimeSpan, SystemdLikeSpansInSeconds) {
    const struct {
        const char* text;
        long long seconds; // -1: not a span
    } cases[] = {
        {"900", 900},
        {"90s", 90},
        {"15min", 900},
        {"2h", 7200},
        {"1d", 86400},
        {"1h 30min", 5400},
        {"1h30m", 5400},
        {"1h 30", 3630}, // a number without a unit is seconds
        {"15 min", 900},
        {"  5min  ", 300},
        {"2w 1d", 15 * 86400},
        {"1 hour 1 minute 1 second", 3661},
        {"3 days", 3 * 86400},
        {"2hr", 7200},
        {"0", 0},
        {"015min", 900},
        {"3155760000", 3155760000}, // 100 years of 365.25 days
        {"", -1},
        {"   ", -1},
        {"min", -1},
        {"-5min", -1},
        {"+5", -1},
        {"1.5h", -1},
        {"1h,30min", -1},
        {"5 fortnights", -1},
        {"10ms", -1}, // below a second: not for these settings
        {"1M", -1},   // months are not whole days
        {"1H", -1},
        {"0x10", -1},
        {"5min!", -1},
        {"3155760001", -1},
        {"5218w", -1},
        {"99999999999999999999999999", -1},
        {"18446744073709551617s", -1}, // wraps a 64-bit number to 1
    };
    for (const auto& c : cases) {
        const std::optional<seconds> span = ParseTimeSpan(c.text);
        EXPECT_EQ(span ? span->count() : -1, c.seconds) << c.text;
    }
}

TEST(WatchConfig, FilesThatAreRead) {
    WatchConfig defaults;
    defaults.ranges = {Range(Ip(192, 168, 1, 0), Ip(192, 168, 1, 255))};
    const WatchConfig everything{
        {Range(Ip(10, 0, 0, 1), Ip(10, 0, 0, 40)), Range(Ip(10, 0, 1, 7), Ip(10, 0, 1, 7)),
         Range(Ip(172, 16, 0, 0), Ip(172, 16, 3, 255))},
        hours(2),
        {"https://hooks.example.org/a", "http://127.0.0.1:8080/b?x=1;y=2"},
        "logger -t kd 'changed' ; touch /tmp/x # not a comment",
        minutes(5),
        "/var/lib/kestrune-durvane/lan.sqlite",
        "大阪 2F",
    };
    WatchConfig shared = defaults;
    shared.database = "postgresql://kd_osaka:pw@db.example.org/inventory?sslmode=verify-full";
    const struct {
        const char* name;
        std::string text;
        WatchConfig expected;
    } cases[] = {
        {"ranges alone", "[watch]\nranges = 192.168.1.0/24\n", defaults},
        {"no final newline", "[watch]\nranges=192.168.1.0/24", defaults},
        {"CR LF and a byte order mark", "\xEF\xBB\xBF[watch]\r\nranges = 192.168.1.0/24\r\n",
         defaults},
        {"comments and blank lines",
         "# a comment\n; another\n\n[watch]\n  # indented comment\n\t\nranges = "
         "192.168.1.0/24\n#interval = 1h\n",
         defaults},
        {"indented key lines are lines of their own",
         "[watch]\n  ranges = 192.168.1.0/24\n\tinterval = 15min\n", defaults},
        {"every key; ranges and notify repeat and add",
         "[watch]\n"
         "ranges = 10.0.0.1-40, 10.0.1.7\n"
         "interval = 2h\n"
         "notify = https://hooks.example.org/a\n"
         "on-change = logger -t kd 'changed' ; touch /tmp/x # not a comment\n"
         "ranges =172.16.0.0/22\n"
         "on-change-timeout = 5 min\n"
         "notify=http://127.0.0.1:8080/b?x=1;y=2\n"
         "database = /var/lib/kestrune-durvane/lan.sqlite\n"
         "site = 大阪 2F\n",
         everything},
        {"a server as the database",
         "[watch]\nranges = 192.168.1.0/24\ndatabase = " + shared.database + "\n", shared},
        {"the section given twice continues it",
         "[watch]\nranges = 192.168.1.0/24\n[watch]\ninterval = 15min\n", defaults},
    };
    for (const auto& c : cases) {
        WatchConfig config;
        std::string error;
        EXPECT_TRUE(ParseWatchConfig(c.text, config, error)) << c.name << ": " << error;
        EXPECT_EQ(config, c.expected) << c.name;
    }

    // The limits of the spans are inside.
    WatchConfig config;
    std::string error;
    ASSERT_TRUE(ParseWatchConfig("[watch]\nranges=10.0.0.1\ninterval=60\non-change-timeout=1h\n",
                                 config, error))
        << error;
    EXPECT_EQ(config.interval, minutes(1));
    EXPECT_EQ(config.onChangeTimeout, hours(1));
    ASSERT_TRUE(ParseWatchConfig("[watch]\nranges=10.0.0.1\non-change-timeout=1\n", config, error))
        << error;
    EXPECT_EQ(config.onChangeTimeout, seconds(1));
}

TEST(WatchConfig, ProblemsNameTheirLinesAndChangeNothing) {
    const std::string bom = "\xEF\xBB\xBF";
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> messages; // each a part of one message line, in order
    } cases[] = {
        {"empty file", "", {"no ranges to scan"}},
        {"comments only",
         "# ranges = 10.0.0.1\n[watch]\n#ranges = 10.0.0.1\n",
         {"no ranges to scan"}},
        {"key before the section",
         "ranges = 10.0.0.1\n[watch]\n",
         {"line 1: 'ranges' is outside the [watch] section"}},
        {"another section",
         "[watch]\nranges = 10.0.0.1\n[Watch]\ninterval = 1h\n[extra]\n",
         {"line 3: unknown section [Watch]", "line 4: 'interval' is outside the [watch] section",
          "line 5: unknown section [extra]"}},
        {"unknown keys",
         "[watch]\nranges = 10.0.0.1\nRanges = 10.0.0.2\non_change = x\n",
         {"line 3: unknown key 'Ranges'", "line 4: unknown key 'on_change' (the keys are ranges, "
                                          "interval, notify, on-change, on-change-timeout, "
                                          "database, site)"}},
        {"bad ranges",
         "[watch]\nranges = 10.0.0.1, 10.0.0.300\nranges = 10.0.0.9-10.0.0.1\nranges = ,\n"
         "ranges = 0.0.0.0/8\nranges = 10.0.0.1/24-5\n",
         {"line 2: '10.0.0.300' is not an IPv4 address", "line 3: '10.0.0.9-10.0.0.1' ends",
          "line 4: 'ranges' names no range", "line 5: '0.0.0.0/8' starts at 0.0.0.0",
          "line 6: '10.0.0.1/24-5' mixes"}},
        {"one message for a line with two bad ranges",
         "[watch]\nranges = 10.0.0.x 10.0.0.y\n",
         {"line 2: '10.0.0.x'"}},
        {"empty values",
         "[watch]\nranges =\nnotify =\non-change=  \ninterval=\non-change-timeout=\ndatabase=\n",
         {"line 2: 'ranges' has no value", "line 3: 'notify' has no value",
          "line 4: 'on-change' has no value", "line 5: 'interval' has no value",
          "line 6: 'on-change-timeout' has no value", "line 7: 'database' has no value"}},
        {"keys given twice",
         "[watch]\nranges = 10.0.0.1\ninterval = 1h\non-change = a\ndatabase = /a\n"
         "on-change-timeout = 5s\ninterval = 2h\non-change = b\ndatabase = /b\n"
         "on-change-timeout = 6s\n",
         {"line 7: 'interval' is given a second time (first on line 3)",
          "line 8: 'on-change' is given a second time (first on line 4)",
          "line 9: 'database' is given a second time (first on line 5)",
          "line 10: 'on-change-timeout' is given a second time (first on line 6)"}},
        {"lines that are no key = value",
         "[watch]\nranges = 10.0.0.1\nhttps://hooks.example.org/x\nnotify: https://x\n= 5\n"
         "[watch\n[watch] x\n[[watch]]\n",
         {"line 3: 'https://hooks.example.org/x' is neither 'key = value'",
          "line 4: 'notify: https://x' is neither", "line 5: no key before '='",
          "line 6: a section line is a name in brackets alone", "line 7: a section line",
          "line 8: a section line"}},
        {"control characters",
         "[watch]\nranges = 10.0.0.1\non-change = a\x1b[2Jb\nnotify = a\0b\n"s
         "interval = 1h\x7f\n",
         {"line 3: holds a control character", "line 4: holds a control character",
          "line 5: holds a control character"}},
        {"a bad line keeps its number after a byte order mark and CR LF",
         bom + "[watch]\r\nranges = 10.0.0.1\r\n\r\nbogus = 1\r\n",
         {"line 4: unknown key 'bogus'"}},
        {"a line too long is not read in pieces",
         "[watch]\nranges = 10.0.0.1\nnotify = https://x/" + std::string(kWatchLineLimit, 'a') +
             "\ninterval = 1h\n" + std::string(300, ' ') + "on-change = x" +
             std::string(kWatchLineLimit, ' ') + "interval = 2h\n",
         {"line 3: longer than 4096 bytes", "line 5: longer than 4096 bytes"}},
    };
    const WatchConfig untouched{{Range(1, 2)}, hours(3), {"u"}, "c", seconds(7), "/d", "s"};
    for (const auto& c : cases) {
        WatchConfig config = untouched;
        std::string error;
        EXPECT_FALSE(ParseWatchConfig(c.text, config, error)) << c.name;
        EXPECT_EQ(config, untouched) << c.name;
        EXPECT_TRUE(HasNoControlCharacters(error)) << c.name << ": " << error;
        const std::vector<std::string> lines = Lines(error);
        ASSERT_EQ(lines.size(), c.messages.size()) << c.name << ":\n" << error;
        for (std::size_t i = 0; i < lines.size(); ++i)
            EXPECT_NE(lines[i].find(c.messages[i]), std::string::npos)
                << c.name << ": expected \"" << c.messages[i] << "\" in \"" << lines[i] << "\"";
    }
}

TEST(WatchConfig, BadValuesOfOneKey) {
    const struct {
        const char* key;
        const char* value;
        const char* message;
    } cases[] = {
        {"interval", "59s", "interval '59s' is 59 s; it must be at least 60 s"},
        {"interval", "0", "interval '0' is 0 s; it must be at least 60 s"},
        {"interval", "soon",
         "interval 'soon' is not a time span (such as 900, 90s, 15min, 2h "
         "or 1h 30min)"},
        {"interval", "1.5h", "interval '1.5h' is not a time span"},
        {"on-change-timeout", "0",
         "on-change-timeout '0' is 0 s; it must be at least 1 s and at most 3600 s"},
        {"on-change-timeout", "61min", "on-change-timeout '61min' is 3660 s; it must be"},
        {"on-change-timeout", "1h 1s", "on-change-timeout '1h 1s' is 3601 s"},
        {"on-change-timeout", "500ms", "on-change-timeout '500ms' is not a time span"},
        {"database", "inventory.sqlite",
         "database 'inventory.sqlite' is not an absolute path (it starts with '/')"},
        {"database", "~/inventory.sqlite", "database '~/inventory.sqlite' is not an absolute"},
        {"database", "/var/lib/", "database '/var/lib/' names a directory, not a file"},
        {"database", "mysql://db/inventory", "database 'mysql://db/inventory' is not an absolute"},
        {"site", "x123456789x123456789x123456789x123456789x123456789x123456789xxxxx",
         "site 'x123456789x123456789x123456789x123456789x123456789x123456789xxxxx' is no site"},
    };
    for (const auto& c : cases) {
        const std::string text =
            std::string("[watch]\nranges = 10.0.0.1\n") + c.key + " = " + c.value + "\n";
        WatchConfig config;
        std::string error;
        EXPECT_FALSE(ParseWatchConfig(text, config, error)) << c.key << " = " << c.value;
        EXPECT_EQ(error.rfind(std::string("line 3: ") + c.message, 0), 0u)
            << c.key << " = " << c.value << ": " << error;
        EXPECT_EQ(Lines(error).size(), 1u) << error;
    }
}

TEST(WatchConfig, ValuesInMessagesArePlainAndShort) {
    // C1 controls (here U+009B, a terminal's CSI) in a key and a range; a
    // long value is cut at a character boundary.
    const std::string long_value = std::string(79, 'x') + "\xC3\xA9" + std::string(100, 'y');
    const std::string text =
        "[watch]\nranges = 10.0.0.1\nkey\xC2\x9B = 1\nranges = 10.0.0.\xC2\x9B\n"
        "database = " +
        long_value + "\n";
    WatchConfig config;
    std::string error;
    ASSERT_FALSE(ParseWatchConfig(text, config, error));
    EXPECT_TRUE(HasNoControlCharacters(error)) << error;
    EXPECT_NE(error.find("line 3: unknown key 'key.'"), std::string::npos) << error;
    EXPECT_NE(error.find("line 4: '10.0.0..'"), std::string::npos) << error;
    EXPECT_NE(error.find("line 5: database '" + std::string(79, 'x') + "...'"), std::string::npos)
        << error;
}

TEST(WatchConfig, ManyProblemsAreSummedUp) {
    std::string text = "[watch]\n";
    for (int i = 0; i < 100; ++i)
        text += "bogus = 1\n";
    WatchConfig config;
    std::string error;
    ASSERT_FALSE(ParseWatchConfig(text, config, error));
    const std::vector<std::string> lines = Lines(error);
    ASSERT_EQ(lines.size(), 21u) << error;
    EXPECT_NE(lines[0].find("line 2: unknown key"), std::string::npos);
    EXPECT_NE(lines[19].find("line 21: unknown key"), std::string::npos);
    // 80 more unknown keys and the missing ranges.
    EXPECT_EQ(lines[20], "(81 more problems not shown)");
}

TEST(WatchConfig, ReadsARegularFileAndNamesIt) {
    TempDir dir;
    const std::string good = dir.file("watch.conf");
    TempDir::WriteFile(good, "[watch]\nranges = 198.18.0.0/24\ninterval = 1h\n");
    WatchConfig config;
    std::string error;
    ASSERT_TRUE(ReadWatchConfig(good, config, error)) << error;
    EXPECT_EQ(config.ranges,
              std::vector<AddressRange>{Range(Ip(198, 18, 0, 0), Ip(198, 18, 0, 255))});
    EXPECT_EQ(config.interval, hours(1));

    const std::string bad = dir.file("bad\x1b.conf");
    TempDir::WriteFile(bad, "[watch]\nranges = 10.0.0.1\nbogus = 1\ninterval = 1s\n");
    const std::string shown = dir.path() + "bad..conf"; // ESC as '.'

    ASSERT_FALSE(ReadWatchConfig(bad, config, error));
    EXPECT_EQ(error, shown +
                         ": line 3: unknown key 'bogus' (the keys are ranges, interval, "
                         "notify, on-change, on-change-timeout, database, site)\n" +
                         shown + ": line 4: interval '1s' is 1 s; it must be at least 60 s");

    const std::string big = dir.file("big.conf");
    TempDir::WriteFile(big, "[watch]\nranges = 10.0.0.1\n" + std::string(kWatchFileLimit, '#'));
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* problem;
    } unreadable[] = {
        {dir.file("missing.conf"), ": cannot be opened: No such file or directory"},
        {dir.path(), ": not a regular file"},
        {fifo, ": not a regular file"}, // and no wait for a writer
        {big, ": larger than 1024 KiB; not a watch file"},
    };
    const WatchConfig before = config;
    for (const auto& c : unreadable) {
        ASSERT_FALSE(ReadWatchConfig(c.path, config, error)) << c.path;
        EXPECT_EQ(error, c.path + c.problem);
        EXPECT_EQ(config, before);
    }
}

// The watch file the package installs: as shipped it asks only for ranges;
// with the '#' taken from its example lines it is a valid file with every key.
TEST(WatchConfig, TheInstalledExampleFile) {
    const std::string shipped = TempDir::ReadFile(KD_WATCH_EXAMPLE_FILE);
    ASSERT_FALSE(shipped.empty());
    WatchConfig config;
    std::string error;
    ASSERT_FALSE(ParseWatchConfig(shipped, config, error));
    EXPECT_EQ(Lines(error).size(), 1u) << error;
    EXPECT_NE(error.find("no ranges to scan"), std::string::npos) << error;

    // An example line is '#' followed at once by a key and '='; explanations
    // have a space after the '#'.
    std::string uncommented;
    int examples = 0;
    for (const std::string& line : Lines(shipped)) {
        const bool example = line.size() > 1 && line[0] == '#' && line[1] >= 'a' &&
                             line[1] <= 'z' && line.find('=') != std::string::npos;
        uncommented += (example ? line.substr(1) : line) + "\n";
        examples += example;
    }
    EXPECT_EQ(examples, 7);
    ASSERT_TRUE(ParseWatchConfig(uncommented, config, error)) << error << "\n" << uncommented;
    EXPECT_EQ(config.ranges,
              std::vector<AddressRange>{Range(Ip(192, 168, 1, 0), Ip(192, 168, 1, 255))});
    EXPECT_EQ(config.interval, minutes(15));
    EXPECT_EQ(config.notify.size(), 1u);
    EXPECT_FALSE(config.onChange.empty());
    EXPECT_EQ(config.onChangeTimeout, seconds(30));
    EXPECT_EQ(config.database, "/var/lib/kestrune-durvane/inventory.sqlite");
    EXPECT_EQ(config.site, "north");
}

} // namespace
