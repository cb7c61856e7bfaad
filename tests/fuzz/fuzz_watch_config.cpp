// The watch file parser on arbitrary bytes: it never crashes; a file it
// accepts has ranges to scan and values inside their limits; a file it
// refuses leaves the configuration as it was and says why in lines of plain
// text.

#include "core/watch/WatchConfig.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    WatchConfig config;
    config.onChange = "before";
    const WatchConfig before = config;
    std::string error;
    if (ParseWatchConfig(text, config, error)) {
        Check(!config.ranges.empty());
        for (const AddressRange& range : config.ranges)
            Check(range.start != 0 && range.start <= range.end);
        Check(config.interval >= std::chrono::minutes(1));
        Check(config.onChangeTimeout >= std::chrono::seconds(1) &&
              config.onChangeTimeout <= std::chrono::hours(1));
        Check(config.database.empty() || config.database.front() == '/');
        for (const std::string& url : config.notify)
            Check(!url.empty() && url.find('\n') == std::string::npos);
    } else {
        Check(config == before);
        Check(!error.empty() && error.back() != '\n');
        for (std::size_t i = 0; i < error.size(); ++i) {
            const auto byte = static_cast<unsigned char>(error[i]);
            Check((byte >= 0x20 || error[i] == '\n') && byte != 0x7F);
            if (byte == 0xC2 && i + 1 < error.size())
                Check(static_cast<unsigned char>(error[i + 1]) < 0x80 ||
                      static_cast<unsigned char>(error[i + 1]) > 0x9F);
        }
    }
    // The time span parser on the same bytes: it must not crash either.
    ParseTimeSpan(text);
    return 0;
}
