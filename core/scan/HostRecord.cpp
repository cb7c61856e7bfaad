#include "core/scan/HostRecord.h"

#include <cstdio>

const char* const HostRecord::kAnswered = "○";
const char* const HostRecord::kSilent = "×";
const char* const HostRecord::kTitles[kColumnCount] = {
    "IPアドレス",  "応答",          "コンピュータ名", "ドメイン名",
    "MACアドレス", "NICベンダー名", "メッセンジャ",
};

std::string HostRecord::FormatAddress(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%ld.%ld.%ld.%ld", long((address >> 24) & 0xFF),
                  long((address >> 16) & 0xFF), long((address >> 8) & 0xFF), long(address & 0xFF));
    return text;
}

std::string HostRecord::FormatMac(const unsigned char mac[6]) {
    char text[13];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return text;
}
