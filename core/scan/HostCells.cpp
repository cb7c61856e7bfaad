#include "core/scan/HostCells.h"

#include "platform/wire/DottedQuad.h"

namespace {

std::string Joined(const std::vector<std::string>& names) {
    std::string joined;
    for (std::size_t i = 0; i < names.size(); ++i)
        joined += (i ? "/" : "") + names[i];
    return joined;
}

// Every piece between the '/', empty ones too, so that joining them again
// gives the text back.
std::vector<std::string> Split(std::string_view joined) {
    std::vector<std::string> names;
    if (joined.empty())
        return names;
    for (std::size_t start = 0;;) {
        const std::size_t end = joined.find('/', start);
        names.emplace_back(joined.substr(start, end - start));
        if (end == std::string_view::npos)
            return names;
        start = end + 1;
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool ParseMac(std::string_view text, std::array<unsigned char, 6>& mac) {
    if (text.size() != 12)
        return false;
    for (std::size_t i = 0; i < 6; ++i) {
        const int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        mac[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

} // namespace

std::string CellOf(const HostRecord& host, int column) {
    switch (column) {
    case HostRecord::kAddress:
        return HostRecord::FormatAddress(host.address);
    case HostRecord::kResponse:
        return host.response == HostRecord::Response::Answered ? HostRecord::kAnswered
               : host.response == HostRecord::Response::Silent ? HostRecord::kSilent
                                                               : "";
    case HostRecord::kComputer:
        return host.computer.value_or("");
    case HostRecord::kDomain:
        return host.workgroup.value_or("");
    case HostRecord::kMac:
        return host.hasMac ? HostRecord::FormatMac(host.mac.data()) : "";
    case HostRecord::kVendor:
        return host.vendor;
    case HostRecord::kMessenger:
        return Joined(host.messengers);
    default:
        return {};
    }
}

bool CellIs(const HostRecord& host, int column, std::string_view text) {
    switch (column) {
    case HostRecord::kResponse:
        return text == (host.response == HostRecord::Response::Answered ? HostRecord::kAnswered
                        : host.response == HostRecord::Response::Silent ? HostRecord::kSilent
                                                                        : "");
    case HostRecord::kMac: {
        if (!host.hasMac)
            return text.empty();
        static constexpr char kDigits[] = "0123456789ABCDEF";
        if (text.size() != 12)
            return false;
        for (std::size_t i = 0; i < 6; ++i)
            if (text[2 * i] != kDigits[host.mac[i] >> 4] ||
                text[2 * i + 1] != kDigits[host.mac[i] & 0x0F])
                return false;
        return true;
    }
    case HostRecord::kComputer:
        return host.computer ? *host.computer == text : text.empty();
    case HostRecord::kDomain:
        return host.workgroup ? *host.workgroup == text : text.empty();
    case HostRecord::kVendor:
        return host.vendor == text;
    case HostRecord::kMessenger: {
        // The names joined by "/", walked without joining them.
        if (host.messengers.empty())
            return text.empty();
        std::size_t at = 0;
        for (std::size_t i = 0; i < host.messengers.size(); ++i) {
            if (i > 0) {
                if (at >= text.size() || text[at] != '/')
                    return false;
                ++at;
            }
            const std::string& name = host.messengers[i];
            if (text.compare(at, name.size(), name) != 0)
                return false;
            at += name.size();
        }
        return at == text.size();
    }
    default:
        return CellOf(host, column) == text;
    }
}

HostCells CellsOf(const HostRecord& host) {
    HostCells cells;
    for (int column = 0; column < HostRecord::kColumnCount; ++column)
        cells[static_cast<std::size_t>(column)] = CellOf(host, column);
    return cells;
}

void TakeCell(HostRecord& host, int column, std::string_view text) {
    const auto name = [text]() -> std::optional<std::string> {
        return text.empty() ? std::nullopt : std::optional<std::string>(text);
    };
    switch (column) {
    case HostRecord::kAddress: {
        std::uint32_t address = 0;
        host.address = ParseDottedQuad(text, address) ? address : 0;
        break;
    }
    case HostRecord::kResponse:
        host.response = text == HostRecord::kAnswered ? HostRecord::Response::Answered
                        : text == HostRecord::kSilent ? HostRecord::Response::Silent
                                                      : HostRecord::Response::Unknown;
        break;
    case HostRecord::kComputer:
        host.computer = name();
        break;
    case HostRecord::kDomain:
        host.workgroup = name();
        break;
    case HostRecord::kMac:
        host.hasMac = ParseMac(text, host.mac);
        if (!host.hasMac)
            host.mac = {};
        break;
    case HostRecord::kVendor:
        host.vendor = std::string(text);
        break;
    case HostRecord::kMessenger:
        host.messengers = Split(text);
        break;
    default:
        break;
    }
}

HostRecord RecordOfCells(const HostCells& cells) {
    HostRecord host;
    for (int column = 0; column < HostRecord::kColumnCount; ++column)
        TakeCell(host, column, cells[static_cast<std::size_t>(column)]);
    return host;
}
