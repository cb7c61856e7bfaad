#pragma once
// One registry value read or written the way the settings store does it.
// Reading always delivers text (a REG_DWORD as signed decimal digits), so
// that every caller converts with ParseLeadingInt. A failed write gives the
// user's message "ﾚｼﾞｽﾄﾘにｱｸｾｽできませんでした。", with a caption that tells
// which step failed.

#include "platform/win32/Outcome.h"
#include "platform/win32/Registry.h"

#include <cstddef>
#include <cstdint>

// The kinds a caller asks for; the numbers are those of the registry types.
constexpr int kRegistryKindText = 1;       // REG_SZ
constexpr int kRegistryKindExpandText = 2; // REG_EXPAND_SZ
constexpr int kRegistryKindBinary = 3;     // REG_BINARY
constexpr int kRegistryKindNumber = 4;     // REG_DWORD

// The buffer ReadRegistryValue needs: the longest value it reads (256 bytes)
// and the NUL it always puts after the bytes read.
constexpr std::size_t kRegistryValueBufferSize = 257;

// Reads valueName under root\keyPath into buffer. A number is read with room
// for 4 bytes, text with room for 256 and binary data with 100, whatever type
// the value really has: a value that does not fit fails. The buffer is empty
// text when the call fails and always NUL-terminated. A buffer smaller than
// kRegistryValueBufferSize makes the call fail without reading.
bool ReadRegistryValue(HKEY root, const char* keyPath, const char* valueName, int kind,
                       char* buffer, std::size_t bufferSize);

template <std::size_t N>
bool ReadRegistryValue(HKEY root, const char* keyPath, const char* valueName, int kind,
                       char (&buffer)[N]) {
    static_assert(N >= kRegistryValueBufferSize, "buffer too small for a registry value");
    return ReadRegistryValue(root, keyPath, valueName, kind, buffer, N);
}

// Writes valueName under HKEY_LOCAL_MACHINE\keyPath, creating the key when
// missing: kind 4 as a REG_DWORD of 4 bytes, kind 1 as a REG_SZ with its NUL,
// kind 3 as REG_BINARY of the text's bytes and its NUL; any other kind writes
// nothing and succeeds. A number given for a text kind is written as its
// decimal text; a text given for kind 4 as its ParseLeadingInt value. A
// failure carries the error the user is shown.
Outcome WriteRegistryValue(const char* keyPath, const char* valueName, int kind,
                           std::int32_t number);
Outcome WriteRegistryValue(const char* keyPath, const char* valueName, int kind, const char* text);

// Writes a REG_DWORD as WriteRegistryValue does with kind 4, but without a
// message: a failure is only returned, for a caller that has told enough.
bool WriteRegistryNumberQuietly(const char* keyPath, const char* valueName, std::int32_t number);
