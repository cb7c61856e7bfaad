// The registry store's file parser on arbitrary bytes: it must never crash,
// and whatever it understands must survive a write and a second read
// unchanged, since the store rewrites the file from what it understood.

#include "platform/win32/RegistryFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    RegistryFileParse first = RegistryFile::Parse(text);
    if (!first.valid && !first.file.keys.empty())
        std::abort(); // a rejected file must not yield values
    for (const auto& key : first.file.keys)
        if (!RegistryFile::IsValidKeyPath(key.path))
            std::abort();

    std::string written = first.file.Serialize();
    RegistryFileParse second = RegistryFile::Parse(written);
    if (!second.clean() || !(second.file == first.file))
        std::abort();
    if (second.file.Serialize() != written)
        std::abort();
    return 0;
}
