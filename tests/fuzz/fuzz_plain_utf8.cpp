// Text a peer sent (a web hook's status line or Location) made plain: whatever
// the bytes, the result is valid UTF-8 without a control character, within
// the limit, unchanged by a second pass, and the bytes themselves when they
// were plain and short enough already.

#include "platform/text/TextCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks the limit: small ones cut often.
    const std::size_t maxBytes = data[0];
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string plain = PlainUtf8(bytes, maxBytes);
    if (plain.size() > maxBytes)
        std::abort();
    for (const char c : plain)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            std::abort();
    if (PlainUtf8(plain, plain.size()) != plain)
        std::abort(); // not valid UTF-8, or a C1 control left
    const std::string whole = PlainUtf8(bytes, bytes.size() * 3 + 3);
    if (whole.size() <= maxBytes && plain != whole)
        std::abort(); // cut although it fitted
    if (whole == bytes && bytes.size() <= maxBytes && plain != bytes)
        std::abort();
    return 0;
}
