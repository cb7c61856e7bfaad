#pragma once
// Splits the bytes of a list file into fields. The list file holds one range
// per line, "start,end\r\n"; older and hand-edited files vary, so the rules
// are lenient and the same for both readers (the dialog's and the scan's):
//
// - ",", "\r" and "\n" end the current field (which may be empty);
// - a field ended by "\r", or any second field, ends the line; a first field
//   ended by "," or by a lone "\n" is followed by the second field of the same
//   line (so "a\nb\n" is the one range a-b);
// - "\r\n" counts as one separator;
// - bytes after the last separator are dropped;
// - a field holds at most 257 bytes: a 258th byte makes the file invalid.
//
// Fields come out as bytes, as they stand in the file.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct RangeListField {
    int field = 0;        // 0: the start text of a line, 1: its end text
    std::size_t line = 0; // lines ended before this field
    std::string text;     // the field's bytes
    // The line of the file that holds the field, counted from 1 as an editor
    // shows it ("\r\n", a lone "\n" and a lone "\r" each end one line): what
    // the user is told when a line is not used. A range split over two lines
    // by a lone "\n" has its start on one and its end on the next.
    std::size_t fileLine = 0;

    bool operator==(const RangeListField&) const = default;
};

class RangeListTokenizer {
public:
    static constexpr std::size_t kMaxFieldBytes = 257;

    using Sink = std::function<void(const RangeListField&)>;

    // `sink` receives each field as soon as it has ended.
    explicit RangeListTokenizer(Sink sink);

    // Takes the next bytes of the file; the file may be fed in pieces of any
    // size. False once a field has grown too long; later bytes are ignored.
    bool Feed(std::string_view bytes);

    bool TooLong() const { return m_tooLong; }

    enum class FileResult {
        Unreadable, // could not be opened, is not a regular file, or a read failed
        Complete,   // read to its end
        TooLong,    // reading stopped at a field that is too long
    };

    // Feeds a whole file, in pieces, stopping at a field that is too long (so
    // that a huge or endless file is not read into memory first). Fields
    // already passed to the sink stay passed when the result is Unreadable.
    FileResult FeedFile(const std::string& path);

private:
    Sink m_sink;
    std::string m_text;
    int m_field = 0;
    std::size_t m_line = 0;
    std::size_t m_fileLine = 1;
    bool m_afterCr = false;
    bool m_tooLong = false;
};

struct RangeListTokens {
    std::vector<RangeListField> fields;
    bool tooLong = false; // the fields are those that ended before the long one
};

// All fields of a file's bytes.
RangeListTokens TokenizeRangeList(std::string_view bytes);
