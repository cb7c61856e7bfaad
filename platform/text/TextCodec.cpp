#include "platform/text/TextCodec.h"

#include <cerrno>
#include <iconv.h>

namespace {

// An iconv descriptor; descriptors are not shared between threads, so each
// thread keeps one per direction (Cached) instead of opening one per call.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (ok())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as possible; on return `in`/`inLeft` point at the first
    // byte that could not be converted (or inLeft is 0).
    int convert(const char*& in, size_t& inLeft, std::string& out) {
        char buffer[256];
        for (;;) {
            char* inPtr = const_cast<char*>(in);
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            size_t rc = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            int err = rc == static_cast<size_t>(-1) ? errno : 0;
            out.append(buffer, sizeof buffer - outLeft);
            in = inPtr;
            if (err == E2BIG)
                continue;
            if (err == 0) {
                // Flush any shift state (none for these encodings, but cheap).
                outPtr = buffer;
                outLeft = sizeof buffer;
                iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft);
                out.append(buffer, sizeof buffer - outLeft);
            }
            return err;
        }
    }

    // Back to the initial state, as after opening.
    void reset() {
        if (ok())
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    }

private:
    iconv_t m_cd;
};

Converter& ToUtf8() {
    thread_local Converter converter("UTF-8", "CP932");
    converter.reset();
    return converter;
}

Converter& ToCp932() {
    thread_local Converter converter("CP932", "UTF-8");
    converter.reset();
    return converter;
}

// Length of the UTF-8 sequence that starts with `lead`, 1 for a stray byte.
size_t Utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 1;
}

} // namespace

std::string Cp932ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    Converter& conv = ToUtf8();
    if (!conv.ok()) {
        // No CP932 converter: keep plain ASCII, replace the rest.
        for (unsigned char c : bytes)
            out += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string("\xEF\xBF\xBD");
        return out;
    }
    const char* in = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        int err = conv.convert(in, left, out);
        if (err == 0)
            break;
        // Invalid or truncated sequence: replace one byte and go on.
        out += "\xEF\xBF\xBD";
        ++in;
        --left;
    }
    return out;
}

bool Utf8ToCp932(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    Converter& conv = ToCp932();
    bool exact = true;
    if (!conv.ok()) {
        for (unsigned char c : text) {
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else {
                exact = false;
                if ((c & 0xC0) != 0x80)
                    out += '?';
            }
        }
        return exact;
    }
    const char* in = text.data();
    size_t left = text.size();
    while (left > 0) {
        int err = conv.convert(in, left, out);
        if (err == 0)
            break;
        exact = false;
        out += '?';
        size_t skip = Utf8SequenceLength(static_cast<unsigned char>(*in));
        if (skip > left)
            skip = left;
        in += skip;
        left -= skip;
    }
    return exact;
}

std::size_t Cp932Length(std::string_view text) {
    std::string bytes;
    Utf8ToCp932(text, bytes);
    return bytes.size();
}

std::string TruncateToCp932Bytes(std::string_view text, std::size_t maxBytes) {
    // No character takes more bytes in CP932 than in UTF-8 (an unconvertible
    // one becomes a single '?'): a text that fits as UTF-8 fits, unconverted.
    if (text.size() <= maxBytes)
        return std::string(text);
    std::string bytes;
    Utf8ToCp932(text, bytes);
    if (bytes.size() <= maxBytes)
        return std::string(text);
    // Walk character by character; each UTF-8 character is one CP932 character
    // of one or two bytes.
    std::size_t used = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t len = Utf8SequenceLength(static_cast<unsigned char>(text[pos]));
        if (pos + len > text.size())
            len = text.size() - pos;
        std::string one;
        Utf8ToCp932(text.substr(pos, len), one);
        if (used + one.size() > maxBytes)
            break;
        used += one.size();
        pos += len;
    }
    return std::string(text.substr(0, pos));
}

std::string ControlBytesAsDots(std::string_view bytes) {
    std::string text(bytes);
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = '.';
    }
    return text;
}

// The ranges of the Unicode standard's table of well-formed sequences.
std::size_t WellFormedUtf8Length(std::string_view bytes) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (bytes.size() < length || at(1) < low || at(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (at(i) < 0x80 || at(i) > 0xBF)
            return 0;
    return length;
}

std::string PlainUtf8(std::string_view bytes, std::size_t maxBytes) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD", kEllipsis = "...";
    std::string text;
    // The length of the longest prefix that leaves room for "...", and the one
    // before the character that went over the limit (for a limit below that).
    std::size_t fits = 0, before = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = WellFormedUtf8Length(bytes.substr(i));
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const bool c1 =
            length == 2 && lead == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) <= 0x9F;
        before = text.size();
        if (length == 0)
            text += kReplacement;
        else if ((length == 1 && (lead < 0x20 || lead == 0x7F)) || c1)
            text += '.';
        else
            text.append(bytes.substr(i, length));
        i += length == 0 ? 1 : length;
        if (text.size() > maxBytes) {
            if (maxBytes < kEllipsis.size()) {
                text.resize(before);
            } else {
                text.resize(fits);
                text += kEllipsis;
            }
            break;
        }
        if (text.size() + kEllipsis.size() <= maxBytes)
            fits = text.size();
    }
    return text;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
