#include "core/scan/NodeStatus.h"

#include "core/scan/HostRecord.h"
#include "platform/text/TextCodec.h"

#include <algorithm>

namespace {

constexpr std::size_t kNameTextSize = 15; // byte 15 is the suffix

constexpr unsigned char kSuffixWorkstation = 0x00;
constexpr unsigned char kSuffixMessenger = 0x03;

// Bytes 0..14 up to the first blank or zero byte.
std::string TextToFirstBlank(const std::string& name16) {
    const auto* name = reinterpret_cast<const unsigned char*>(name16.data());
    std::size_t n = 0;
    while (n < kNameTextSize && name[n] != ' ' && name[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(name), n);
}

// Bytes 0..14 with the trailing blanks removed, then up to a zero byte. A
// zero byte is no blank: the removal stops at it, so the blanks in front of
// it stay. Byte 0 always stays, so a name of blanks only becomes one blank.
std::string TextTrimmedRight(const std::string& name16) {
    const auto* name = reinterpret_cast<const unsigned char*>(name16.data());
    std::size_t n = kNameTextSize;
    while (n > 1 && name[n - 1] == ' ')
        --n;
    std::size_t end = 0;
    while (end < n && name[end] != 0)
        ++end;
    return std::string(reinterpret_cast<const char*>(name), end);
}

bool StartsWithIsTilde(const std::string& name) {
    return name.compare(0, 3, "IS~") == 0;
}

} // namespace

NodeStatusNames DecodeNodeStatusNames(const std::vector<HostName>& names, bool skipOwn) {
    NodeStatusNames status;
    // The workstation name is known before the messenger names are judged, so
    // that an own <03> name before the <00> entry is still recognised. Names
    // are compared as the host sent them and kept with control bytes as dots:
    // a row is shown, exported and printed, never obeyed.
    std::string workstationName;
    for (const HostName& name : names) {
        if (name.suffix == kSuffixWorkstation && !name.group)
            workstationName = TextToFirstBlank(name.name);
    }
    status.workstationName = ControlBytesAsDots(workstationName);

    for (const HostName& name : names) {
        switch (name.suffix) {
        case kSuffixWorkstation:
            // "IS~" names belong to the IIS service, not to the machine.
            if (StartsWithIsTilde(name.name))
                break;
            if (name.group)
                status.domainName = ControlBytesAsDots(TextToFirstBlank(name.name));
            else
                status.computerName = ControlBytesAsDots(TextToFirstBlank(name.name));
            break;
        case kSuffixMessenger: {
            std::string text = TextTrimmedRight(name.name);
            if (skipOwn && text == workstationName)
                break;
            status.messengerNames.push_back(ControlBytesAsDots(text));
            break;
        }
        default:
            break;
        }
    }
    return status;
}
