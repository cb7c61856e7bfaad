#include "platform/wire/DottedQuad.h"

bool ParseDottedQuad(std::string_view text, std::uint32_t& address) {
    std::uint32_t value = 0;
    std::size_t pos = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
        const std::size_t start = pos;
        unsigned number = 0;
        // At most four digits are looked at: a fourth one already fails.
        while (pos < text.size() && pos - start < 4 && text[pos] >= '0' && text[pos] <= '9')
            number = number * 10 + static_cast<unsigned>(text[pos++] - '0');
        const std::size_t digits = pos - start;
        if (digits == 0 || digits > 3 || number > 255 || (digits > 1 && text[start] == '0'))
            return false;
        value = (value << 8) | number;
    }
    if (pos != text.size())
        return false;
    address = value;
    return true;
}
