#include "platform/win32/RegistryFile.h"

#include "platform/text/TextCodec.h"

#include <array>
#include <cstdio>
#include <unordered_map>
#include <utility>

namespace {

constexpr std::array<std::string_view, 5> kRoots = {
    "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER",   "HKEY_CLASSES_ROOT",
    "HKEY_USERS",         "HKEY_CURRENT_CONFIG",
};

// Hex lists wrap after this column, as regedit's own files do.
constexpr size_t kWrapColumn = 76;

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && RegistryFile::SameName(s.substr(0, prefix.size()), prefix);
}

// 1 to 8 hex digits and nothing else.
bool ParseHexNumber(std::string_view digits, DWORD& out) {
    if (digits.empty() || digits.size() > 8)
        return false;
    DWORD value = 0;
    for (char c : digits) {
        int d = HexDigitValue(c);
        if (d < 0)
            return false;
        value = (value << 4) | static_cast<DWORD>(d);
    }
    out = value;
    return true;
}

// A quoted text starting at s[pos] == '"', with \\ and \" escapes. Returns
// the position after the closing quote, or npos when the text is malformed.
size_t ReadQuoted(std::string_view s, size_t pos, std::string& out) {
    out.clear();
    for (size_t i = pos + 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"')
            return i + 1;
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"'))
                return std::string_view::npos;
            c = s[++i];
        }
        out += c;
    }
    return std::string_view::npos;
}

// "aa,bb,cc"; an empty list is zero bytes.
bool ParseHexList(std::string_view list, std::string& out) {
    out.clear();
    list = Trim(list);
    if (list.empty())
        return true;
    while (true) {
        size_t comma = list.find(',');
        std::string_view token = Trim(list.substr(0, comma));
        if (token.empty() || token.size() > 2)
            return false;
        DWORD byte = 0;
        if (!ParseHexNumber(token, byte))
            return false;
        out += static_cast<char>(byte);
        if (comma == std::string_view::npos)
            return true;
        list.remove_prefix(comma + 1);
    }
}

// A line that can only be the rest of a hex list. Anything else (a key, a
// value) is never swallowed by a list whose backslash promised more.
bool IsHexContinuation(std::string_view line) {
    for (char c : line)
        if (HexDigitValue(c) < 0 && c != ',' && c != '\\' && !IsBlank(c))
            return false;
    return true;
}

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
}

// A REG_SZ is written as "text" when that form gives back exactly its bytes:
// one final NUL, no other, and no line break.
bool WritableAsString(const std::string& data) {
    if (data.empty() || data.back() != '\0')
        return false;
    for (size_t i = 0; i + 1 < data.size(); ++i)
        if (data[i] == '\0' || data[i] == '\n' || data[i] == '\r')
            return false;
    return true;
}

void AppendHexList(std::string& out, size_t column, const std::string& data) {
    for (size_t i = 0; i < data.size(); ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(data[i]));
        out += digits;
        column += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++column;
            if (column > kWrapColumn) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
}

void AppendValue(std::string& out, const RegistryFileValue& value) {
    size_t lineStart = out.size();
    if (value.name.empty())
        out += '@';
    else
        AppendQuoted(out, value.name);
    out += '=';
    if (value.type == REG_SZ && WritableAsString(value.data)) {
        AppendQuoted(out, std::string_view(value.data).substr(0, value.data.size() - 1));
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        DWORD number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | static_cast<unsigned char>(value.data[i]);
        char text[16];
        std::snprintf(text, sizeof text, "dword:%08x", number);
        out += text;
    } else {
        if (value.type == REG_BINARY) {
            out += "hex:";
        } else {
            char prefix[24];
            std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
            out += prefix;
        }
        AppendHexList(out, out.size() - lineStart, value.data);
    }
    out += '\n';
}

enum class Section { None, Valid, Bad };

std::string Folded(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        c = FoldCase(c);
    return folded;
}

// Finds keys and values by name in constant time while a file is parsed, so
// that a large store is read in one pass; the file's lists keep their order.
class ParseIndex {
public:
    explicit ParseIndex(RegistryFile& file) : m_file(file) {}

    size_t Key(std::string_view path) {
        auto [it, added] = m_keys.try_emplace(Folded(path), m_file.keys.size());
        if (added) {
            m_file.keys.push_back({std::string(path), {}});
            m_values.emplace_back();
        }
        return it->second;
    }

    // As RegistryFileKey::SetValue: a later value of the same name replaces
    // an earlier one in its place.
    void SetValue(size_t key, std::string_view name, DWORD type, std::string data) {
        std::vector<RegistryFileValue>& values = m_file.keys[key].values;
        auto [it, added] = m_values[key].try_emplace(Folded(name), values.size());
        if (added) {
            values.push_back({std::string(name), type, std::move(data)});
            return;
        }
        values[it->second].type = type;
        values[it->second].data = std::move(data);
    }

private:
    RegistryFile& m_file;
    std::unordered_map<std::string, size_t> m_keys;
    std::vector<std::unordered_map<std::string, size_t>> m_values;
};

} // namespace

const RegistryFileValue* RegistryFileKey::FindValue(std::string_view name) const {
    for (const auto& value : values)
        if (RegistryFile::SameName(value.name, name))
            return &value;
    return nullptr;
}

void RegistryFileKey::SetValue(std::string_view name, DWORD type, std::string data) {
    for (auto& value : values) {
        if (RegistryFile::SameName(value.name, name)) {
            value.type = type;
            value.data = std::move(data);
            return;
        }
    }
    values.push_back({std::string(name), type, std::move(data)});
}

bool RegistryFile::SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    return true;
}

bool RegistryFile::IsValidKeyPath(std::string_view path) {
    if (path.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos)
        return false;
    size_t first = path.find('\\');
    std::string_view root = path.substr(0, first);
    bool known = false;
    for (auto name : kRoots)
        known = known || SameName(root, name);
    if (!known)
        return false;
    while (first != std::string_view::npos) {
        path.remove_prefix(first + 1);
        first = path.find('\\');
        if (path.substr(0, first).empty())
            return false;
    }
    return true;
}

const RegistryFileKey* RegistryFile::FindKey(std::string_view path) const {
    for (const auto& key : keys)
        if (SameName(key.path, path))
            return &key;
    return nullptr;
}

RegistryFileKey* RegistryFile::FindKey(std::string_view path) {
    return const_cast<RegistryFileKey*>(std::as_const(*this).FindKey(path));
}

bool RegistryFile::KeyExists(std::string_view path) const {
    for (auto root : kRoots)
        if (SameName(path, root))
            return true;
    for (const auto& key : keys) {
        std::string_view stored = key.path;
        if (stored.size() == path.size() && SameName(stored, path))
            return true;
        if (stored.size() > path.size() && stored[path.size()] == '\\' &&
            SameName(stored.substr(0, path.size()), path))
            return true;
    }
    return false;
}

RegistryFileKey& RegistryFile::CreateKey(std::string_view path) {
    if (RegistryFileKey* key = FindKey(path))
        return *key;
    keys.push_back({std::string(path), {}});
    return keys.back();
}

namespace {

// The lines of the text, without their CR LF or LF.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// The data after a value's '=' on line `i`: a string, a dword or a hex list
// (which may go on over the lines after it; `i` is left on its last line).
// False, with `reason` when it is not the usual one, when it is not
// understood.
bool ParseValueData(std::string_view rest, const std::vector<std::string_view>& lines, size_t& i,
                    DWORD& type, std::string& data, const char*& reason) {
    bool ok = false;
    if (!rest.empty() && rest.front() == '"') {
        size_t end = ReadQuoted(rest, 0, data);
        ok = end == rest.size();
        data += '\0';
        type = REG_SZ;
    } else if (rest == "-") {
        reason = "deletion entries are not applied";
    } else if (StartsWithNoCase(rest, "dword:")) {
        DWORD number = 0;
        ok = ParseHexNumber(Trim(rest.substr(6)), number);
        for (int b = 0; b < 4; ++b)
            data += static_cast<char>((number >> (8 * b)) & 0xFF);
        type = REG_DWORD;
    } else if (StartsWithNoCase(rest, "hex")) {
        std::string_view after = rest.substr(3);
        type = REG_BINARY;
        bool typeOk = true;
        if (!after.empty() && after.front() == '(') {
            size_t close = after.find(')');
            typeOk = close != std::string_view::npos &&
                     ParseHexNumber(after.substr(1, close - 1), type);
            after = typeOk ? after.substr(close + 1) : std::string_view();
        }
        typeOk = typeOk && !after.empty() && after.front() == ':';
        // The list goes on while a line ends with a backslash. The
        // continuation lines belong to this value even when it is bad.
        std::string list(typeOk ? after.substr(1) : after);
        bool continued = true;
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            if (i + 1 >= lines.size() || !IsHexContinuation(lines[i + 1])) {
                continued = false;
                break;
            }
            list += Trim(lines[++i]);
            while (!list.empty() && IsBlank(list.back()))
                list.pop_back();
        }
        ok = typeOk && continued && ParseHexList(list, data);
    }
    return ok;
}

} // namespace

RegistryFileParse RegistryFile::Parse(std::string_view text) {
    RegistryFileParse result;
    if (text.find('\0') != std::string_view::npos) {
        result.error = "the file holds NUL bytes; it is not a text file";
        return result;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);

    const std::vector<std::string_view> lines = SplitLines(text);

    size_t i = 0;
    while (i < lines.size() && Trim(lines[i]).empty())
        ++i;
    if (i == lines.size()) {
        result.valid = true; // empty: a store with nothing in it
        return result;
    }
    if (Trim(lines[i]) != kHeader) {
        result.error = "the first line is not REGEDIT4";
        return result;
    }
    result.valid = true;

    ParseIndex index(result.file);
    size_t current = 0;
    Section section = Section::None;
    auto skip = [&](size_t lineIndex, std::string reason) {
        result.issues.push_back({static_cast<int>(lineIndex + 1), std::move(reason)});
    };

    for (++i; i < lines.size(); ++i) {
        std::string_view t = Trim(lines[i]);
        if (t.empty())
            continue;
        if (t.front() == ';') {
            skip(i, "comment");
            continue;
        }
        if (t.front() == '[') {
            size_t close = t.rfind(']');
            std::string_view path =
                close == std::string_view::npos ? std::string_view() : t.substr(1, close - 1);
            if (close != t.size() - 1 || !IsValidKeyPath(path)) {
                skip(i, "key line not understood; its values are skipped");
                section = Section::Bad;
                continue;
            }
            // Keys may repeat; their values join, a later value replacing an
            // earlier one of the same name.
            current = index.Key(path);
            section = Section::Valid;
            continue;
        }

        size_t first = i;
        std::string name;
        size_t pos = 0;
        if (t.front() == '@') {
            pos = 1;
        } else if (t.front() == '"') {
            pos = ReadQuoted(t, 0, name);
            if (pos == std::string_view::npos) {
                skip(i, "value name not understood");
                continue;
            }
        } else {
            skip(i, "line not understood");
            continue;
        }
        std::string_view rest = Trim(t.substr(pos));
        if (rest.empty() || rest.front() != '=') {
            skip(i, "'=' missing after the value name");
            continue;
        }
        rest = Trim(rest.substr(1));

        DWORD type = REG_NONE;
        std::string data;
        const char* reason = "value not understood";
        const bool ok = ParseValueData(rest, lines, i, type, data, reason);
        if (!ok) {
            skip(first, reason);
            continue;
        }
        if (section != Section::Valid) {
            skip(first, "value outside a valid key");
            continue;
        }
        index.SetValue(current, name, type, std::move(data));
    }
    return result;
}

std::string RegistryFile::Serialize() const {
    std::string out = kHeader;
    out += "\n\n";
    for (const auto& key : keys) {
        out += '[';
        out += key.path;
        out += "]\n";
        for (const auto& value : key.values)
            AppendValue(out, value);
        out += '\n';
    }
    return out;
}
