#pragma once
// The watch file: what a scheduled `vopal-scan --watch FILE` scans, how often,
// and whom it tells about changes. One [watch] section of "key = value" lines
// (inih's syntax, read strictly):
//
//   [watch]
//   ranges = 192.168.1.0/24, 10.0.0.1-10.0.0.40
//   ranges = 10.0.1.7
//   interval = 15min
//   notify = https://hooks.example.org/lan
//   on-change = /usr/local/bin/lan-changed
//   on-change-timeout = 30s
//   database = /var/lib/kestrune-durvane/inventory.sqlite
//   site = osaka
//
// ranges (range arguments separated by spaces or commas) and notify may
// repeat and add up; the other keys are given once at most. interval is 1
// minute or more, on-change-timeout 1 second to 1 hour, database an absolute
// path or a postgresql:// address, site a site name (IsSiteName). At least one
// range is needed.
//
// Lines starting with '#' or ';' are comments; there are no comments after a
// value, so a ';' or '#' inside a command line or a URL stays part of it.
// A key given twice (other than ranges and notify), an unknown key, another
// section, a line longer than kWatchLineLimit or holding control characters
// is refused with the number of its line.

#include "core/ranges/AddressRange.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct WatchConfig {
    std::vector<AddressRange> ranges;
    std::chrono::seconds interval{std::chrono::minutes(15)};
    std::vector<std::string> notify; // URLs, checked by the caller
    std::string onChange;            // a shell command line, or empty
    std::chrono::seconds onChangeTimeout{30};
    std::string database; // absolute path or server address; empty: the caller's default
    std::string site;     // empty: the caller's default

    bool operator==(const WatchConfig&) const = default;
};

// The longest line a watch file may have, in bytes (a webhook URL with its
// token fits easily).
inline constexpr std::size_t kWatchLineLimit = 4096;
// Watch files larger than this are not read at all.
inline constexpr std::size_t kWatchFileLimit = 1024 * 1024;

// The text of a watch file. On failure `error` holds one "line N: problem"
// message per line (English, plain text: values are shown without control
// characters) and `config` is unchanged.
bool ParseWatchConfig(std::string_view text, WatchConfig& config, std::string& error);

// A name a site may have: 1 to 64 bytes of text without control characters,
// no space at either end.
bool IsSiteName(std::string_view name);

// The file at `path`, which must be a regular file; every message starts with
// the path ("PATH: line N: problem").
bool ReadWatchConfig(const std::string& path, WatchConfig& config, std::string& error);

// A time span as systemd writes them: numbers each followed by a unit, added
// up, with or without spaces between them ("900", "90s", "15min", "2h", "1d",
// "1h 30min", "1h30m"). Units: s/sec/second(s), m/min/minute(s),
// h/hr/hour(s), d/day(s), w/week(s); a number without a unit is seconds.
// Nothing when the text is not such a span or adds up to more than 100 years.
std::optional<std::chrono::seconds> ParseTimeSpan(std::string_view text);
