// Feeds arbitrary datagrams to the reader of answers to a reverse-name query
// for 198.18.0.7 (the id is the datagram's own first two bytes, so that the
// header checks pass often), read as mDNS and as LLMNR, and checks what the
// caller relies on: a refusal gives nothing; an accepted answer gives one to
// eight distinct names, each plain UTF-8 text without a control character
// whose every backslash starts one of the escapes and whose labels fit.

#include "platform/text/TextCodec.h"
#include "platform/wire/PtrQuery.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

namespace {

constexpr std::uint32_t kAddress = 0xC6120007;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Walks the text's escapes and labels: a backslash is followed by '.', '\'
// or three digits of a byte value, every label between unescaped dots is not
// empty and stands for at most 63 bytes of the name, and the name for at most
// 253 (255 on the wire less its first length byte and the closing zero).
// Counted as one byte: an escape and U+FFFD, which stands for one byte
// replaced (or for three sent as such).
void CheckNameText(const std::string& text) {
    Check(!text.empty());
    Check(PlainUtf8(text, text.size()) == text); // well-formed, no control character
    std::size_t label = 0, total = 0;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '.') {
            Check(label > 0);
            label = 0;
            ++total;
            ++i;
            continue;
        }
        if (c == '\\') {
            Check(i + 1 < text.size());
            if (text[i + 1] == '.' || text[i + 1] == '\\') {
                i += 2;
            } else {
                Check(i + 3 < text.size() && IsDigit(text[i + 1]) && IsDigit(text[i + 2]) &&
                      IsDigit(text[i + 3]));
                Check((text[i + 1] - '0') * 100 + (text[i + 2] - '0') * 10 + (text[i + 3] - '0') <
                      256);
                i += 4;
            }
            ++label;
            ++total;
        } else if (text.compare(i, 3, "\xEF\xBF\xBD") == 0) {
            i += 3;
            ++label;
            ++total;
        } else {
            const std::size_t length = WellFormedUtf8Length(std::string_view(text).substr(i));
            Check(length > 0);
            i += length;
            label += length;
            total += length;
        }
        Check(label <= 63 && total <= 253);
    }
    Check(label > 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint16_t id = size >= 2 ? static_cast<std::uint16_t>((data[0] << 8) | data[1]) : 0;
    for (const PtrProtocol protocol : {PtrProtocol::Mdns, PtrProtocol::Llmnr}) {
        const PtrAnswer answer = ReadPtrAnswer(size ? data : nullptr, size, id, kAddress, protocol);
        if (!answer.accepted()) {
            Check(answer.names.empty() && answer.namesInAnswer == 0);
        } else {
            Check(!answer.names.empty() && answer.names.size() <= kPtrAnswerMaxNames);
            Check(answer.names.size() <= answer.namesInAnswer);
            std::set<std::string> distinct;
            for (const std::string& name : answer.names) {
                CheckNameText(name);
                distinct.insert(name);
            }
            Check(distinct.size() == answer.names.size());
        }
        // Another id is refused before anything else is read.
        const PtrAnswer other = ReadPtrAnswer(
            size ? data : nullptr, size, static_cast<std::uint16_t>(id ^ 1), kAddress, protocol);
        Check(other.check == (size < 12 ? PtrAnswerCheck::Truncated : PtrAnswerCheck::WrongId));
    }
    return 0;
}
