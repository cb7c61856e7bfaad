#include "core/scan/HostRecord.h"

#include "core/ranges/AddressRange.h"

#include <iterator>

const char* const HostRecord::kAnswered = "○";
const char* const HostRecord::kSilent = "×";
const char* const HostRecord::kTitles[kColumnCount] = {
    "IPアドレス",  "応答",          "コンピュータ名", "ドメイン名",
    "MACアドレス", "NICベンダー名", "メッセンジャ",
};

std::string HostRecord::FormatAddress(std::uint32_t address) {
    return AddressToText(address);
}

// Made for every row a scan reports, several times over: by hand rather
// than through printf.
std::string HostRecord::FormatMac(const unsigned char mac[6]) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(12, '0');
    for (int i = 0; i < 6; ++i) {
        text[2 * i] = kDigits[mac[i] >> 4];
        text[2 * i + 1] = kDigits[mac[i] & 0x0F];
    }
    return text;
}

namespace {
constexpr const char* kSourceTexts[HostRecord::kNameSourceCount] = {"netbios", "mdns", "llmnr",
                                                                    "dns"};
} // namespace

const char* HostRecord::SourceText(NameSource source) {
    const auto index = static_cast<std::size_t>(source);
    return index < std::size(kSourceTexts) ? kSourceTexts[index] : "";
}

bool HostRecord::SourceOf(std::string_view text, NameSource& source) {
    for (std::size_t i = 0; i < std::size(kSourceTexts); ++i)
        if (text == kSourceTexts[i]) {
            source = static_cast<NameSource>(i);
            return true;
        }
    return false;
}

std::vector<HostRecord::Name> HostRecord::AllNames() const {
    std::vector<Name> all;
    all.reserve(names.size() + 1);
    if (computer && !computer->empty())
        all.push_back({*computer, NameSource::Netbios});
    for (int source = 1; source < kNameSourceCount; ++source)
        for (const Name& name : names)
            if (static_cast<int>(name.source) == source)
                all.push_back(name);
    return all;
}
