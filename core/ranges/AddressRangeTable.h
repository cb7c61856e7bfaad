#pragma once
// The scan's own copy of the range list, read from the list file, and the
// cursor that walks it address by address.
//
// The table has a fixed number of entries and ends at the first entry whose
// start is 0, so one entry always stays 0 behind the last range. A file with
// more ranges than fit keeps the first ones; the rest are dropped and the
// load says how many.
//
// Only ranges the user asked for are walked: a line whose start is not an
// address (or is 0.0.0.0), whose end is not an address, or whose start is
// above its end is refused. The lines before and after it are still read,
// and the user is told once which lines were left out and why. The file
// itself is not changed. The load tells nobody itself: it gives its caller
// the messages for the user (Messages()).

#include "core/ranges/AddressRange.h"
#include "core/ranges/RangeListTokenizer.h"
#include "platform/win32/UserMessage.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class AddressRangeTable {
public:
    static constexpr int kEntries = 126;
    static constexpr int kMaxRanges = kEntries - 1;
    // What NextAddress returns when the walk has ended.
    static constexpr std::uint32_t kEndValue = 0xFFFFFFFFu;

    AddressRangeTable();

    // Replaces the table with the ranges of the list file, each text read as
    // inet_addr reads it. True when the whole file was read into the table.
    // A file that cannot be read leaves the table empty, without a message.
    // A field that is too long keeps the ranges read before it. Refused
    // lines, and ranges beyond the table's room, are left out. Each of the
    // three has its message (Messages()).
    bool LoadFromFile(const std::string& path);

    // LoadFromFile over the bytes of a file.
    bool LoadFromBytes(std::string_view bytes);

    // What the last load has to tell the user, one box each, in the order
    // they are shown: a field too long (an error), the refused lines, the
    // ranges that did not fit. Empty when the whole file was read.
    const std::vector<UserMessage>& Messages() const { return m_messages; }

    // Adds one range after the last one; false when the table is full.
    bool Append(const AddressRange& range);

    // The next address of the walk: every range from its start to its end in
    // table order, or kEndValue once the walk has ended (and on every later
    // call). Since kEndValue is also 255.255.255.255, a range that reaches
    // that address ends the walk there. A range whose end is below its start
    // runs upward through 255.255.255.255.
    std::uint32_t NextAddress();

    // Entries filled by the last load and by Append (a start of 0 among them
    // still ends the walk there).
    int RangeCount() const { return m_count; }
    AddressRange Range(int index) const;

    // Ranges of the last load that did not fit.
    int DroppedRanges() const { return m_dropped; }

    // Lines of the last load that were refused (not a range the user can
    // have meant). With RangeCount() 0, every line was refused.
    int RefusedLines() const { return m_refusedCount; }

    // Refused lines named in the message; the rest are only counted.
    static constexpr int kListedRefusals = 10;

private:
    enum class Refusal { StartNotAddress, StartZero, EndNotAddress, StartAboveEnd };
    struct RefusedLine {
        std::size_t line = 0; // the file's line number of the range's start
        Refusal reason = Refusal::StartNotAddress;
    };

    void Clear();
    void TakeField(const RangeListField& field);
    void Refuse(std::size_t line, Refusal reason);
    UserMessage RefusalMessage() const;
    bool FinishLoad(bool tooLong);
    std::uint32_t Step();

    AddressRange m_entries[kEntries];
    int m_count = 0; // entries filled by the load or Append
    // The start of the line being read, kept until its end arrives.
    std::uint32_t m_startAddress = 0;
    bool m_startIsAddress = false;
    std::size_t m_startLine = 0;
    int m_dropped = 0;
    RefusedLine m_refused[kListedRefusals];
    int m_refusedCount = 0;
    std::vector<UserMessage> m_messages; // of the last load
    int m_entry = 0;            // the walk's current entry
    std::uint32_t m_offset = 0; // the next offset within it
    bool m_ended = false;       // kEndValue was returned
};
