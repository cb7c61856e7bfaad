#include "core/scan/NodeStatus.h"

#include "core/scan/HostRecord.h"
#include "platform/TextCodec.h"

namespace {

constexpr std::size_t kHeaderSize = sizeof(ADAPTER_STATUS);
constexpr std::size_t kEntrySize = sizeof(NAME_BUFFER);
constexpr std::size_t kNameTextSize = 15; // byte 15 is the suffix

constexpr UCHAR kSuffixWorkstation = 0x00;
constexpr UCHAR kSuffixMessenger = 0x03;

// A view of the entries that the walk may visit: those wholly inside the
// buffer, up to the first one whose name starts with a zero byte, at most 30.
struct NameTable {
    const UCHAR* first = nullptr;
    int count = 0;

    const UCHAR* name(int i) const { return first + i * kEntrySize; }
    UCHAR suffix(int i) const { return name(i)[kNameTextSize]; }
    bool isGroup(int i) const { return (name(i)[NCBNAMSZ + 1] & GROUP_NAME) != 0; }
};

NameTable WalkableEntries(const UCHAR* buffer, std::size_t length) {
    NameTable table;
    if (buffer == nullptr || length <= kHeaderSize)
        return table;
    table.first = buffer + kHeaderSize;
    std::size_t fit = (length - kHeaderSize) / kEntrySize;
    int limit = fit < static_cast<std::size_t>(kNodeStatusMaxNames) ? static_cast<int>(fit)
                                                                    : kNodeStatusMaxNames;
    while (table.count < limit && table.name(table.count)[0] != 0)
        ++table.count;
    return table;
}

// Bytes 0..14 up to the first blank or zero byte.
std::string TextToFirstBlank(const UCHAR* name) {
    std::size_t n = 0;
    while (n < kNameTextSize && name[n] != ' ' && name[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(name), n);
}

// Bytes 0..14 with the trailing blanks removed, then up to a zero byte. A
// zero byte is no blank: the removal stops at it, so the blanks in front of
// it stay. Byte 0 always stays, so a name of blanks only becomes one blank.
std::string TextTrimmedRight(const UCHAR* name) {
    std::size_t n = kNameTextSize;
    while (n > 1 && name[n - 1] == ' ')
        --n;
    std::size_t end = 0;
    while (end < n && name[end] != 0)
        ++end;
    return std::string(reinterpret_cast<const char*>(name), end);
}

bool StartsWithIsTilde(const UCHAR* name) {
    return name[0] == 'I' && name[1] == 'S' && name[2] == '~';
}

} // namespace

NodeStatus DecodeNodeStatus(const UCHAR* buffer, std::size_t length, bool skipOwnMessengerName) {
    NodeStatus status;

    UCHAR mac[6] = {};
    for (std::size_t i = 0; i < sizeof mac && buffer != nullptr && i < length; ++i)
        mac[i] = buffer[i];
    status.macAddress = HostRecord::FormatMac(mac);

    const NameTable table = WalkableEntries(buffer, length);

    // The workstation name is known before the messenger names are judged, so
    // that an own <03> name before the <00> entry is still recognised. Names
    // are compared as the host sent them and kept with control bytes as dots:
    // a row is shown, exported and printed, never obeyed.
    std::string workstationName;
    for (int i = 0; i < table.count; ++i) {
        if (table.suffix(i) == kSuffixWorkstation && !table.isGroup(i))
            workstationName = TextToFirstBlank(table.name(i));
    }
    status.workstationName = ControlBytesAsDots(workstationName);

    for (int i = 0; i < table.count; ++i) {
        const UCHAR* name = table.name(i);
        switch (table.suffix(i)) {
        case kSuffixWorkstation:
            // "IS~" names belong to the IIS service, not to the machine.
            if (StartsWithIsTilde(name))
                break;
            if (table.isGroup(i))
                status.domainName = ControlBytesAsDots(TextToFirstBlank(name));
            else
                status.computerName = ControlBytesAsDots(TextToFirstBlank(name));
            break;
        case kSuffixMessenger: {
            std::string text = TextTrimmedRight(name);
            if (skipOwnMessengerName && text == workstationName)
                break;
            if (!status.messengerNames.empty())
                status.messengerNames += '/';
            status.messengerNames += ControlBytesAsDots(text);
            break;
        }
        default:
            break;
        }
    }
    return status;
}
