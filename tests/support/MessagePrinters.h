#pragma once
// How GoogleTest prints the message values of a failed expectation: as the
// box would say them, not as bytes.

#include "core/scan/ScanNotice.h"
#include "platform/win32/UserMessage.h"

#include <ostream>

inline void PrintTo(const UserMessage& message, std::ostream* out) {
    *out << "[" << message.caption << "] " << message.text << " (type 0x" << std::hex
         << message.type << std::dec << ")";
}

inline void PrintTo(const ScanNotice& notice, std::ostream* out) {
    *out << (notice.source == ScanNotice::Source::Scan ? "scan " : "probe ");
    PrintTo(notice.message, out);
}
