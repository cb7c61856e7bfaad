#include "core/ranges/AddressRangeTable.h"

#include <algorithm>
#include <string>

namespace {

const char* const kFileInvalid = "ファイルが異常です。";
const char* const kRefusedHeading =
    "IPリストファイルの次の行は正しいIPアドレスの範囲ではないため、調べません。";

} // namespace

AddressRangeTable::AddressRangeTable() {
    Clear();
}

void AddressRangeTable::Clear() {
    for (AddressRange& entry : m_entries)
        entry = AddressRange();
    m_count = 0;
    m_startAddress = 0;
    m_startIsAddress = false;
    m_startLine = 0;
    m_dropped = 0;
    m_refusedCount = 0;
    m_messages.clear();
    m_entry = 0;
    m_offset = 0;
    m_ended = false;
}

void AddressRangeTable::TakeField(const RangeListField& field) {
    if (field.field == 0) {
        // A line that ends after this field leaves the start for the next
        // line's to replace.
        m_startAddress = AddressFromText(field.text);
        m_startIsAddress = IsAddressText(field.text);
        m_startLine = field.fileLine;
        return;
    }
    // A text inet_addr rejects reads as 255.255.255.255, which ends the walk,
    // and a start above its end would walk up through addresses nobody named.
    const std::uint32_t end = AddressFromText(field.text);
    if (!m_startIsAddress) {
        Refuse(m_startLine, Refusal::StartNotAddress);
    } else if (m_startAddress == 0) {
        Refuse(m_startLine, Refusal::StartZero); // 0 would end the table
    } else if (!IsAddressText(field.text)) {
        Refuse(m_startLine, Refusal::EndNotAddress);
    } else if (m_startAddress > end) {
        Refuse(m_startLine, Refusal::StartAboveEnd);
    } else if (m_count >= kMaxRanges) {
        ++m_dropped; // the last entry stays 0 to end the table
    } else {
        m_entries[m_count++] = AddressRange{m_startAddress, end};
    }
}

void AddressRangeTable::Refuse(std::size_t line, Refusal reason) {
    if (m_refusedCount < kListedRefusals)
        m_refused[m_refusedCount] = RefusedLine{line, reason};
    ++m_refusedCount;
}

UserMessage AddressRangeTable::RefusalMessage() const {
    std::string text = kRefusedHeading;
    const int listed = std::min(m_refusedCount, kListedRefusals);
    for (int i = 0; i < listed; ++i) {
        text += "\n" + std::to_string(m_refused[i].line) + "行目：";
        switch (m_refused[i].reason) {
        case Refusal::StartNotAddress:
            text += "開始IPアドレスがIPアドレスではありません。";
            break;
        case Refusal::StartZero:
            text += "開始IPアドレスが0.0.0.0です。";
            break;
        case Refusal::EndNotAddress:
            text += "終了IPアドレスがIPアドレスではありません。";
            break;
        case Refusal::StartAboveEnd:
            text += "開始IPアドレスが終了IPアドレスより大きくなっています。";
            break;
        }
    }
    if (m_refusedCount > listed)
        text += "\n…他" + std::to_string(m_refusedCount - listed) + "行";
    return {text, "注意", MB_OK | MB_ICONEXCLAMATION};
}

bool AddressRangeTable::FinishLoad(bool tooLong) {
    // A start without an end on the last line is no range: it was never
    // put into the table.
    if (tooLong)
        m_messages.push_back({kFileInvalid, "エラー1A", MB_OK | MB_ICONERROR});
    if (m_refusedCount > 0)
        m_messages.push_back(RefusalMessage());
    if (m_dropped > 0) {
        std::string text = "IPアドレスの範囲が多すぎます。先頭から" + std::to_string(kMaxRanges) +
                           "組だけを調べ、残りの" + std::to_string(m_dropped) + "組は調べません。";
        m_messages.push_back({text, "注意", MB_OK | MB_ICONEXCLAMATION});
    }
    return !tooLong && m_dropped == 0 && m_refusedCount == 0;
}

bool AddressRangeTable::LoadFromFile(const std::string& path) {
    Clear();
    RangeListTokenizer tokenizer([this](const RangeListField& field) { TakeField(field); });
    RangeListTokenizer::FileResult result = tokenizer.FeedFile(path);
    if (result == RangeListTokenizer::FileResult::Unreadable) {
        Clear();
        return false;
    }
    return FinishLoad(result == RangeListTokenizer::FileResult::TooLong);
}

bool AddressRangeTable::LoadFromBytes(std::string_view bytes) {
    Clear();
    RangeListTokenizer tokenizer([this](const RangeListField& field) { TakeField(field); });
    return FinishLoad(!tokenizer.Feed(bytes));
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
