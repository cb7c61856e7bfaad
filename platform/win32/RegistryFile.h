#pragma once
// The registry store's file: REGEDIT4 text, parsed and written by pure
// functions so that the format can be tested with tables and fuzzed.
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\BRELLOW\KestruneDurvane]
//   "MaxThread"=dword:0000000a
//   "IpListFileName"="/opt/kd/iplist.lst"
//   "Blob"=hex:01,02,ff
//   "Path"=hex(2):25,48,4f,4d,45,25,00
//
// Strings escape '\' and '"' with a backslash. Long hex lists continue on
// the next line after a trailing backslash. "@" names the key's default
// value. Key and value names compare without regard to ASCII letter case.
//
// What makes the whole file unusable, and what only skips a line:
// - Whole file: a NUL byte anywhere (binary data or a file zero-filled by a
//   crash, not text an editor wrote) or a first non-blank line other than
//   "REGEDIT4" (not a file of this format). Nothing in it is used. An empty
//   or blank file is a valid empty store.
// - One line: anything else that is not understood -- a malformed section
//   header (its values are skipped with it, so they cannot land in the
//   previous section), a value line outside a valid section, a bad name or
//   value form, deletion entries ("[-...]", "=-"), and comments (";"), which
//   the store cannot write back. Everything understood is still used.
// Either way the store keeps the original file aside before its next write,
// so nothing the user wrote is lost by a rewrite.

#include "platform/win32/Registry.h"

#include <string>
#include <string_view>
#include <vector>

struct RegistryFileValue {
    std::string name; // "" is the key's default value
    DWORD type = REG_NONE;
    std::string data; // raw bytes, exactly as stored
    bool operator==(const RegistryFileValue&) const = default;
};

struct RegistryFileKey {
    std::string path; // full path, root first: HKEY_LOCAL_MACHINE\SOFTWARE\...
    std::vector<RegistryFileValue> values;
    bool operator==(const RegistryFileKey&) const = default;

    const RegistryFileValue* FindValue(std::string_view name) const;
    // Replaces a value of that name (keeping its place) or appends a new one.
    void SetValue(std::string_view name, DWORD type, std::string data);
};

struct RegistryFileIssue {
    int line = 0; // 1-based line number in the file
    std::string reason;
};

struct RegistryFileParse;

class RegistryFile {
public:
    static constexpr const char* kHeader = "REGEDIT4";

    std::vector<RegistryFileKey> keys; // in file order
    bool operator==(const RegistryFile&) const = default;

    static RegistryFileParse Parse(std::string_view text);
    std::string Serialize() const;

    const RegistryFileKey* FindKey(std::string_view path) const;
    RegistryFileKey* FindKey(std::string_view path);
    // True for a stored key and for every parent of one: creating a key
    // creates its parents, as in the registry.
    bool KeyExists(std::string_view path) const;
    // The stored key of that path, appended when missing.
    RegistryFileKey& CreateKey(std::string_view path);

    // Key and value names: equal when they differ only in ASCII letter case.
    static bool SameName(std::string_view a, std::string_view b);
    // A full key path the file can hold: a known root first, no empty
    // component, no line break.
    static bool IsValidKeyPath(std::string_view path);
};

struct RegistryFileParse {
    bool valid = false;                    // false: the whole file is unusable (see above)
    std::string error;                     // why, when not valid
    std::vector<RegistryFileIssue> issues; // lines skipped in a valid file
    RegistryFile file;                     // what was understood; empty when not valid

    // Everything in the text is in `file`: a rewrite loses nothing.
    bool clean() const { return valid && issues.empty(); }
};
