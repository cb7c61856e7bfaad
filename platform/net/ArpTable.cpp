#include "platform/net/ArpTable.h"

#include "platform/text/TextCodec.h"

#include <cerrno>
#include <cstdio>
#include <vector>

namespace {

constexpr unsigned kCompleteFlag = 0x02; // ATF_COM
constexpr std::size_t kMaxTableBytes = 1 << 20;

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

// "0x2" style; false for anything else or a value beyond 16 bits.
bool ParseHexFlags(std::string_view text, unsigned& value) {
    if (text.size() < 3 || text.size() > 6 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    value = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
        const int digit = HexDigitValue(text[i]);
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return true;
}

// Exactly "xx:xx:xx:xx:xx:xx".
bool ParseMac(std::string_view text, MacAddress& mac) {
    if (text.size() != 17)
        return false;
    for (std::size_t i = 0; i < 6; ++i) {
        const int high = HexDigitValue(text[i * 3]);
        const int low = HexDigitValue(text[i * 3 + 1]);
        if (high < 0 || low < 0 || (i < 5 && text[i * 3 + 2] != ':'))
            return false;
        mac[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

} // namespace

std::optional<MacAddress> FindArpEntry(std::string_view table, std::string_view address) {
    if (address.empty())
        return std::nullopt;
    std::size_t pos = 0;
    while (pos < table.size()) {
        std::size_t end = table.find('\n', pos);
        if (end == std::string_view::npos)
            end = table.size();
        const std::string_view line = table.substr(pos, end - pos);
        pos = end + 1;

        // IP address, HW type, Flags, HW address, Mask, Device
        const std::vector<std::string_view> fields = SplitFields(line);
        if (fields.size() < 4 || fields[0] != address)
            continue;
        unsigned flags = 0;
        MacAddress mac{};
        if (!ParseHexFlags(fields[2], flags) || !(flags & kCompleteFlag) ||
            !ParseMac(fields[3], mac))
            continue;
        if (mac == MacAddress{})
            continue;
        return mac;
    }
    return std::nullopt;
}

std::optional<MacAddress> LookupArpEntry(std::string_view address, const std::string& path,
                                         int* openError) {
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) {
        if (openError)
            *openError = errno;
        return std::nullopt;
    }
    std::string text;
    char chunk[4096];
    std::size_t got = 0;
    while (text.size() < kMaxTableBytes && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    std::fclose(file);
    return FindArpEntry(text, address);
}
