#pragma once
// Conversion between the program's UTF-8 text and CP932 (Shift-JIS) bytes,
// the encoding of NetBIOS names, the export file and older list files.

#include <cstddef>
#include <string>
#include <string_view>

// CP932 bytes to UTF-8. Never fails: a byte sequence that is not valid CP932
// becomes U+FFFD for each offending byte, so a hostile name still shows.
std::string Cp932ToUtf8(std::string_view bytes);

// UTF-8 to CP932. Returns false when the text holds a character that CP932
// cannot represent (or is not valid UTF-8); `out` then holds the conversion
// with '?' in place of each such character.
bool Utf8ToCp932(std::string_view text, std::string& out);

// The number of CP932 bytes the UTF-8 text takes ('?' counted for a
// character CP932 lacks).
std::size_t Cp932Length(std::string_view text);

// The longest leading part of the UTF-8 text whose CP932 form takes at most
// maxBytes bytes; a character is never split.
std::string TruncateToCp932Bytes(std::string_view text, std::size_t maxBytes);

// The bytes with every control byte (below 0x20, and 0x7F) replaced by '.',
// so that a name from the network cannot steer a terminal or start a line.
// Neither CP932 nor UTF-8 uses these bytes inside a multibyte character, so
// no character is split.
std::string ControlBytesAsDots(std::string_view bytes);

// Bytes that a peer sent (a server's status line, a header) as text that is
// safe to show, log or store: valid UTF-8 stays; each byte that does not
// start a valid sequence (overlong forms, surrogates and values beyond
// U+10FFFF included) becomes U+FFFD; every control character -- below 0x20,
// 0x7F and the C1 controls U+0080 to U+009F -- becomes '.'. A text longer
// than maxBytes is cut at a character and ends in "..." within maxBytes.
std::string PlainUtf8(std::string_view bytes, std::size_t maxBytes);

// The length of the well-formed UTF-8 sequence at the start of `bytes` (1 to
// 4), or 0 when none starts there: a stray or missing continuation byte, an
// overlong form, a surrogate or a value beyond U+10FFFF. `bytes` must not be
// empty.
std::size_t WellFormedUtf8Length(std::string_view bytes);

// The value of one hexadecimal digit (either case), or -1 for any other byte.
int HexDigitValue(char c);
