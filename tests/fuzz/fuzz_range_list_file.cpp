// Feeds arbitrary file contents to both list file readers and checks what
// their users rely on: feeding the bytes in pieces changes nothing, fields
// stay within their limit, the dialog's list is empty exactly when the file
// was refused, what the writer writes reads back unchanged, and the scan's
// table walk always ends and stays ended.

#include "core/ranges/AddressRangeTable.h"
#include "core/ranges/MemoryRangeListRows.h"
#include "core/ranges/RangeList.h"
#include "core/ranges/RangeListTokenizer.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

void CheckTokens(const RangeListTokens& tokens) {
    std::size_t line = 0;
    int field = 0;
    for (const RangeListField& f : tokens.fields) {
        Check(f.text.size() <= RangeListTokenizer::kMaxFieldBytes);
        Check(f.text.find_first_of(",\r\n") == std::string::npos);
        // The end field follows its line's start; a start opens the current
        // line, or the next one when the previous start ended its line alone.
        if (f.field == 1)
            Check(field == 1 && f.line == line);
        else
            Check(field == 0 ? f.line == line : f.line == line + 1);
        line = f.field == 1 ? f.line + 1 : f.line;
        field = f.field == 1 ? 0 : 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The tokenizer, whole and in three pieces cut where the data says.
    RangeListTokens whole = TokenizeRangeList(bytes);
    CheckTokens(whole);
    std::size_t cut1 = size ? data[0] % (size + 1) : 0;
    std::size_t cut2 = size ? cut1 + data[size - 1] % (size - cut1 + 1) : 0;
    std::vector<RangeListField> pieces;
    RangeListTokenizer tokenizer([&pieces](const RangeListField& f) { pieces.push_back(f); });
    tokenizer.Feed(bytes.substr(0, cut1));
    tokenizer.Feed(bytes.substr(cut1, cut2 - cut1));
    tokenizer.Feed(bytes.substr(cut2));
    Check(pieces == whole.fields);
    Check(tokenizer.TooLong() == whole.tooLong);

    // The dialog's reader, and the writer's output read back.
    MemoryRangeListRows rows;
    const Outcome loaded = LoadRangeListBytes(rows, bytes);
    Check(loaded.ok == !whole.tooLong && loaded.ok == !loaded.message);
    if (!loaded.ok)
        Check(rows.GetItemCount() == 0);
    std::string saved = FormatRangeListBytes(rows);
    MemoryRangeListRows again;
    Check(LoadRangeListBytes(again, saved).ok);
    Check(again.GetItemCount() == rows.GetItemCount());
    MemoryRangeListRows third;
    Check(LoadRangeListBytes(third, FormatRangeListBytes(again)).ok);
    Check(third.Rows() == again.Rows());

    SortRangeList(again);
    for (int row = 1; row < again.GetItemCount(); ++row)
        Check(AddressFromText(again.GetItemText(row - 1, 0)) <=
              AddressFromText(again.GetItemText(row, 0)));

    // The scan's reader and walk. The walk may be long (a range can span the
    // whole address space), so only its first steps are taken.
    AddressRangeTable table;
    Check(table.LoadFromBytes(bytes) == table.Messages().empty());
    Check(table.RangeCount() <= AddressRangeTable::kMaxRanges);
    for (int i = 0; i < 4096; ++i) {
        if (table.NextAddress() == AddressRangeTable::kEndValue) {
            Check(table.NextAddress() == AddressRangeTable::kEndValue);
            break;
        }
    }
    return 0;
}
