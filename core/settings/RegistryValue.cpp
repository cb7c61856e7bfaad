#include "core/settings/RegistryValue.h"

#include "core/settings/ParseLeadingInt.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kFailureText = "ﾚｼﾞｽﾄﾘにｱｸｾｽできませんでした。";
constexpr DWORD kNumberBytes = 4;
constexpr DWORD kTextBytes = 256;
constexpr DWORD kBinaryBytes = 100;

// The results a write has always accepted. The store never gives the last
// two for a write that did not happen.
bool Accepted(LONG code) {
    return code == ERROR_SUCCESS || code == ERROR_FILE_NOT_FOUND || code == ERROR_INVALID_HANDLE;
}

Outcome Failure(const char* caption, bool tell) {
    if (!tell)
        return {false, std::nullopt};
    return Outcome::Failed({kFailureText, caption, MB_OK | MB_ICONERROR});
}

// `tell` false: a failure comes without a message.
Outcome WriteBytes(const char* keyPath, const char* valueName, int kind, const BYTE* data,
                   DWORD size, bool tell) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG code = RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_WRITE, nullptr, &key, &disposition);
    if (!Accepted(code))
        return Failure("注意 A01", tell);
    const char* caption = nullptr;
    DWORD type = REG_NONE;
    switch (kind) {
    case kRegistryKindNumber:
        caption = "注意 A02";
        type = REG_DWORD;
        break;
    case kRegistryKindText:
        caption = "注意 A03";
        type = REG_SZ;
        break;
    case kRegistryKindBinary:
        caption = "注意 A07";
        type = REG_BINARY;
        break;
    default:
        RegCloseKey(key);
        return Outcome::Done();
    }
    code = RegSetValueExA(key, valueName, 0, type, data, size);
    RegCloseKey(key);
    if (!Accepted(code))
        return Failure(caption, tell);
    return Outcome::Done();
}

Outcome WriteNumber(const char* keyPath, const char* valueName, std::int32_t number,
                    bool tell = true) {
    // REG_DWORD is little-endian whatever the machine.
    BYTE bytes[kNumberBytes];
    for (DWORD i = 0; i < kNumberBytes; ++i)
        bytes[i] = static_cast<BYTE>((static_cast<std::uint32_t>(number) >> (8 * i)) & 0xFF);
    return WriteBytes(keyPath, valueName, kRegistryKindNumber, bytes, kNumberBytes, tell);
}

Outcome WriteText(const char* keyPath, const char* valueName, int kind, const char* text) {
    return WriteBytes(keyPath, valueName, kind, reinterpret_cast<const BYTE*>(text),
                      static_cast<DWORD>(std::strlen(text) + 1), true);
}

} // namespace

bool ReadRegistryValue(HKEY root, const char* keyPath, const char* valueName, int kind,
                       char* buffer, std::size_t bufferSize) {
    if (!buffer || bufferSize == 0)
        return false;
    buffer[0] = '\0';
    if (bufferSize < kRegistryValueBufferSize)
        return false;

    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;

    // One type variable for every query: each query rewrites it with the
    // value's real type, and the later steps go by what it says then. So a
    // number stored as short text is read as that text.
    DWORD type = static_cast<DWORD>(kind);
    bool ok = true;
    if (kind == kRegistryKindNumber) {
        BYTE bytes[kNumberBytes] = {};
        DWORD size = kNumberBytes;
        if (RegQueryValueExA(key, valueName, nullptr, &type, bytes, &size) != ERROR_SUCCESS) {
            ok = false;
        } else {
            std::uint32_t number = 0;
            for (int i = kNumberBytes - 1; i >= 0; --i)
                number = (number << 8) | bytes[i];
            std::snprintf(buffer, bufferSize, "%d", static_cast<std::int32_t>(number));
        }
    }
    auto queryText = [&](DWORD limit) {
        DWORD size = limit;
        if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                             &size) != ERROR_SUCCESS) {
            ok = false;
            buffer[0] = '\0';
            return;
        }
        // Stored bytes need not end with a NUL (binary data never does).
        buffer[size] = '\0';
    };
    if (ok && type == REG_EXPAND_SZ)
        queryText(kTextBytes);
    if (ok && type == REG_SZ)
        queryText(kTextBytes);
    if (ok && type == REG_BINARY)
        queryText(kBinaryBytes);

    RegCloseKey(key);
    if (!ok)
        buffer[0] = '\0';
    return ok;
}

Outcome WriteRegistryValue(const char* keyPath, const char* valueName, int kind,
                           std::int32_t number) {
    if (kind == kRegistryKindNumber)
        return WriteNumber(keyPath, valueName, number);
    std::string text = std::to_string(number);
    return WriteText(keyPath, valueName, kind, text.c_str());
}

Outcome WriteRegistryValue(const char* keyPath, const char* valueName, int kind, const char* text) {
    if (!text)
        text = "";
    if (kind == kRegistryKindNumber)
        return WriteNumber(keyPath, valueName, ParseLeadingInt(text));
    return WriteText(keyPath, valueName, kind, text);
}

bool WriteRegistryNumberQuietly(const char* keyPath, const char* valueName, std::int32_t number) {
    return WriteNumber(keyPath, valueName, number, false).ok;
}
