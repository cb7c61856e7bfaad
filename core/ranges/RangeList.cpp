#include "core/ranges/RangeList.h"

#include "core/ranges/AddressRange.h"
#include "core/ranges/RangeListTokenizer.h"
#include "core/settings/RunLog.h"
#include "platform/os/AtomicFile.h"
#include "platform/text/TextCodec.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

namespace {

const char* const kWriteFailed =
    "ファイルの書き込みに失敗しました。[IPリストファイルの変更]ボタンをクリックし、IPのリストを保"
    "存するファイルのファイル名を指定してください。またこのファイルが書き込み可能であることを確認"
    "してください。";
const char* const kFileInvalid = "ファイルが異常です。";

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A cell's text as the file holds it.
std::string ToFileBytes(std::string_view text) {
    if (IsAscii(text))
        return std::string(text);
    std::string bytes;
    Utf8ToCp932(text, bytes); // '?' stands in for what CP932 lacks
    return bytes;
}

std::string FromFileBytes(std::string_view bytes) {
    if (IsAscii(bytes))
        return std::string(bytes);
    return Cp932ToUtf8(bytes);
}

// Fills the rows from the tokenizer's fields: field 0 makes a row, field 1
// sets its end text.
RangeListTokenizer::Sink RowsSink(RangeListRows& rows) {
    return [&rows](const RangeListField& field) {
        int row = static_cast<int>(field.line);
        if (field.field == 0)
            rows.InsertItem(row, FromFileBytes(field.text));
        else
            rows.SetItemText(row, 1, FromFileBytes(field.text));
    };
}

Outcome FinishLoad(RangeListRows& rows, RangeListTokenizer::FileResult result) {
    switch (result) {
    case RangeListTokenizer::FileResult::Complete:
        return Outcome::Done();
    case RangeListTokenizer::FileResult::Unreadable:
        rows.DeleteAllItems();
        return Outcome::Done();
    case RangeListTokenizer::FileResult::TooLong:
        break;
    }
    rows.DeleteAllItems();
    return Outcome::Failed({kFileInvalid, "注意", MB_OK | MB_ICONEXCLAMATION});
}

} // namespace

std::string FormatRangeListBytes(const RangeListRows& rows) {
    std::string bytes;
    int count = rows.GetItemCount();
    for (int row = 0; row < count; ++row) {
        bytes += ToFileBytes(TruncateToCp932Bytes(rows.GetItemText(row, 0), kRangeListCellBytes));
        bytes += ',';
        bytes += ToFileBytes(TruncateToCp932Bytes(rows.GetItemText(row, 1), kRangeListCellBytes));
        bytes += "\r\n";
    }
    return bytes;
}

Outcome SaveRangeList(const RangeListRows& rows, const std::string& path) {
    // Earlier versions wrote the list in place; where the file cannot be
    // replaced (a hard-linked file, a directory we may not create in), it
    // still is, keeping the old list if that fails.
    AtomicWriteOptions options;
    options.inPlaceFallback = true;
    if (WriteFileAtomically(path, FormatRangeListBytes(rows), options).ok())
        return Outcome::Done();
    RunLog::Write("%s\n", kWriteFailed);
    return Outcome::Failed({kWriteFailed, "注意", MB_OK | MB_ICONEXCLAMATION});
}

Outcome LoadRangeList(RangeListRows& rows, const std::string& path) {
    rows.DeleteAllItems();
    RangeListTokenizer tokenizer(RowsSink(rows));
    return FinishLoad(rows, tokenizer.FeedFile(path));
}

Outcome LoadRangeListBytes(RangeListRows& rows, std::string_view bytes) {
    rows.DeleteAllItems();
    RangeListTokenizer tokenizer(RowsSink(rows));
    return FinishLoad(rows, tokenizer.Feed(bytes) ? RangeListTokenizer::FileResult::Complete
                                                  : RangeListTokenizer::FileResult::TooLong);
}

void SortRangeList(RangeListRows& rows) {
    int count = rows.GetItemCount();
    std::vector<std::uint32_t> keys(static_cast<std::size_t>(count));
    for (int row = 0; row < count; ++row)
        keys[row] = AddressFromText(ToFileBytes(rows.GetItemText(row, 0)));
    std::vector<int> order(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    // Stable, so that rows with the same start keep the order they were added in.
    std::stable_sort(order.begin(), order.end(),
                     [&keys](int a, int b) { return keys[a] < keys[b]; });
    if (!std::is_sorted(order.begin(), order.end()))
        rows.ReorderRows(order);
}
