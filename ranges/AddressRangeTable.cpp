#include "ranges/AddressRangeTable.h"

#include "platform/MessageBox.h"

#include <string>

namespace {

const char* const kFileInvalid = "ファイルが異常です。";

} // namespace

AddressRangeTable::AddressRangeTable() {
    Clear();
}

void AddressRangeTable::Clear() {
    for (AddressRange& entry : m_entries)
        entry = AddressRange();
    m_count = 0;
    m_pendingStart = false;
    m_dropped = 0;
    m_entry = 0;
    m_offset = 0;
    m_ended = false;
}

void AddressRangeTable::TakeField(const RangeListField& field) {
    if (m_count >= kMaxRanges) {
        // The last entry stays 0 to end the table.
        if (field.field == 1)
            ++m_dropped;
        return;
    }
    if (field.field == 0) {
        // A line that ends after this field leaves the start for the next
        // line to overwrite.
        m_entries[m_count].start = AddressFromText(field.text);
        m_pendingStart = true;
    } else {
        m_entries[m_count].end = AddressFromText(field.text);
        m_pendingStart = false;
        ++m_count;
    }
}

bool AddressRangeTable::FinishLoad(bool tooLong, void* owner) {
    // A start without an end on the last line is not a range: walking it
    // would run to 255.255.255.255.
    if (m_pendingStart) {
        m_entries[m_count] = AddressRange();
        m_pendingStart = false;
    }
    if (tooLong)
        MessageBoxA(owner, kFileInvalid, "エラー1A", MB_OK | MB_ICONERROR);
    if (m_dropped > 0) {
        std::string text = "IPアドレスの範囲が多すぎます。先頭から" + std::to_string(kMaxRanges) +
                           "組だけを調べ、残りの" + std::to_string(m_dropped) + "組は調べません。";
        MessageBoxA(owner, text.c_str(), "注意", MB_OK | MB_ICONEXCLAMATION);
    }
    return !tooLong && m_dropped == 0;
}

bool AddressRangeTable::LoadFromFile(const std::string& path, void* owner) {
    Clear();
    RangeListTokenizer tokenizer([this](const RangeListField& field) { TakeField(field); });
    RangeListTokenizer::FileResult result = tokenizer.FeedFile(path);
    if (result == RangeListTokenizer::FileResult::Unreadable) {
        Clear();
        return false;
    }
    return FinishLoad(result == RangeListTokenizer::FileResult::TooLong, owner);
}

bool AddressRangeTable::LoadFromBytes(std::string_view bytes, void* owner) {
    Clear();
    RangeListTokenizer tokenizer([this](const RangeListField& field) { TakeField(field); });
    return FinishLoad(!tokenizer.Feed(bytes), owner);
}

bool AddressRangeTable::Append(const AddressRange& range) {
    if (m_count >= kMaxRanges)
        return false;
    m_entries[m_count++] = range;
    return true;
}

AddressRange AddressRangeTable::Range(int index) const {
    if (index < 0 || index >= kEntries)
        return AddressRange();
    return m_entries[index];
}

std::uint32_t AddressRangeTable::NextAddress() {
    if (m_ended)
        return kEndValue;
    std::uint32_t address = Step();
    // 255.255.255.255 ends the walk wherever it comes from, so that a caller
    // that asks again does not wrap round to 0.0.0.0.
    if (address == kEndValue)
        m_ended = true;
    return address;
}

std::uint32_t AddressRangeTable::Step() {
    // An entry whose start is 0 ends the table.
    const AddressRange& current = m_entries[m_entry];
    if (current.start == 0)
        return kEndValue;
    // Unsigned: an end below the start wraps and runs through 255.255.255.255.
    if (current.end - current.start >= m_offset)
        return current.start + m_offset++;
    if (m_entry + 1 >= kEntries || m_entries[m_entry + 1].start == 0)
        return kEndValue;
    ++m_entry;
    m_offset = 1;
    return m_entries[m_entry].start;
}
