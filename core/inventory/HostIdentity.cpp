#include "core/inventory/HostIdentity.h"

#include "platform/text/TextCodec.h"

#include <cctype>

namespace {

// The first octet of a 12-digit MAC, or -1.
int FirstOctet(const std::string& mac) {
    if (mac.size() != 12)
        return -1;
    for (char c : mac)
        if (HexDigitValue(c) < 0)
            return -1;
    return HexDigitValue(mac[0]) * 16 + HexDigitValue(mac[1]);
}

} // namespace

std::string CanonicalMac(const std::string& mac) {
    if (FirstOctet(mac) < 0)
        return {};
    std::string upper = mac;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

bool IsUsableMac(const std::string& mac) {
    const int first = FirstOctet(mac);
    if (first < 0 || (first & 0x01)) // multicast (and all ones) names no one machine
        return false;
    return mac.find_first_not_of('0') != std::string::npos;
}

bool IsRandomisedMac(const std::string& mac) {
    const int first = FirstOctet(mac);
    return first >= 0 && (first & 0x02) != 0;
}

HostIdentity IdentityOf(const HostRecord& row) {
    HostIdentity identity;
    const std::string mac = row.hasMac ? HostRecord::FormatMac(row.mac.data()) : std::string();
    if (IsUsableMac(mac)) {
        identity.kind = HostIdentity::Kind::Mac;
        identity.key = "mac:" + CanonicalMac(mac);
        identity.randomisedMac = IsRandomisedMac(mac);
        return identity;
    }
    const std::string computer = row.computer.value_or("");
    if (!computer.empty()) {
        identity.kind = HostIdentity::Kind::Name;
        identity.key = "name:" + computer + "/" + row.workgroup.value_or("");
        return identity;
    }
    identity.key = "ip:" + HostRecord::FormatAddress(row.address);
    return identity;
}
