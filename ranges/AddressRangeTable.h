#pragma once
// The scan's own copy of the range list, read from the list file, and the
// cursor that walks it address by address.
//
// The table has a fixed number of entries and ends at the first entry whose
// start is 0, so one entry always stays 0 behind the last range. A file with
// more ranges than fit keeps the first ones; the rest are dropped and the
// user is told how many.

#include "ranges/AddressRange.h"
#include "ranges/RangeListTokenizer.h"

#include <cstdint>
#include <string>
#include <string_view>

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
    // A field that is too long is reported (owned by `owner`) and keeps the
    // ranges read before it. Ranges beyond the table's room are dropped and
    // reported.
    bool LoadFromFile(const std::string& path, void* owner = nullptr);

    // LoadFromFile over the bytes of a file.
    bool LoadFromBytes(std::string_view bytes, void* owner = nullptr);

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

private:
    void Clear();
    void TakeField(const RangeListField& field);
    bool FinishLoad(bool tooLong, void* owner);
    std::uint32_t Step();

    AddressRange m_entries[kEntries];
    int m_count = 0;             // entries filled by the load or Append
    bool m_pendingStart = false; // a start was read, its end not yet
    int m_dropped = 0;
    int m_entry = 0;            // the walk's current entry
    std::uint32_t m_offset = 0; // the next offset within it
    bool m_ended = false;       // kEndValue was returned
};
