#include "platform/text/TerminalText.h"

#include "platform/text/TextCodec.h"

#include <clocale>
#include <cwchar>
#include <locale.h>
#include <vector>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";    // U+2026, one column

// wcwidth answers for the calling thread's locale; the widths of UTF-8 are
// those of C.UTF-8 (glibc ships it), whatever locale the program runs in.
// Without it, the environment's own.
locale_t Utf8Locale() {
    static const locale_t locale = [] {
        locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (!made)
            made = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
        return made;
    }();
    return locale;
}

// Marks that reorder the text after them on a terminal that lays out
// right-to-left scripts.
bool IsDirectionControl(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

char32_t Decode(std::string_view sequence) {
    const auto byte = [&](std::size_t i) { return static_cast<char32_t>(sequence[i]) & 0xFF; };
    switch (sequence.size()) {
    case 1:
        return byte(0);
    case 2:
        return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
    case 3:
        return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    default:
        return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 |
               (byte(3) & 0x3F);
    }
}

struct Piece {
    std::string_view text;
    std::size_t width;
};

// The text as printable pieces, each with its width.
std::vector<Piece> Pieces(std::string_view bytes) {
    std::vector<Piece> pieces;
    const locale_t utf8 = Utf8Locale();
    const locale_t before = utf8 ? uselocale(utf8) : static_cast<locale_t>(0);
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = WellFormedUtf8Length(bytes.substr(i));
        if (length == 0) {
            pieces.push_back({kReplacement, 1});
            ++i;
            continue;
        }
        const std::string_view sequence = bytes.substr(i, length);
        i += length;
        const char32_t c = Decode(sequence);
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || IsDirectionControl(c)) {
            pieces.push_back({".", 1});
            continue;
        }
        const int width = wcwidth(static_cast<wchar_t>(c));
        if (width < 0)
            pieces.push_back({kReplacement, 1});
        else
            pieces.push_back({sequence, static_cast<std::size_t>(width)});
    }
    if (utf8)
        uselocale(before);
    return pieces;
}

} // namespace

std::size_t TerminalWidth(std::string_view text) {
    std::size_t width = 0;
    for (const Piece& piece : Pieces(text))
        width += piece.width;
    return width;
}

std::string TerminalCell(std::string_view bytes, std::size_t maxWidth) {
    const std::vector<Piece> pieces = Pieces(bytes);
    std::size_t total = 0;
    for (const Piece& piece : pieces)
        total += piece.width;
    std::string cell;
    if (total <= maxWidth) {
        for (const Piece& piece : pieces)
            cell += piece.text;
        return cell;
    }
    if (maxWidth == 0)
        return cell;
    // Room for the ellipsis; a wide character that would straddle the edge
    // is left out whole.
    std::size_t width = 0;
    for (const Piece& piece : pieces) {
        if (width + piece.width > maxWidth - 1)
            break;
        cell += piece.text;
        width += piece.width;
    }
    return cell + std::string(kEllipsis);
}
