#pragma once
// The range list's file: writing the user's list to it, reading it back into
// the list, and keeping the list in address order.
//
// Encoding: the list holds UTF-8 text, the file holds each text as CP932
// bytes, the encoding files of earlier versions used (address texts are
// ASCII, which is the same in both). The writer puts '?' for a character
// that CP932 lacks; the reader shows a byte sequence that is not CP932 as
// U+FFFD, which the next save writes as '?'.

#include "core/ranges/RangeListRows.h"
#include "platform/win32/Outcome.h"

#include <cstddef>
#include <string>
#include <string_view>

// The longest text written for one cell, in CP932 bytes; a longer text is cut
// there without splitting a character.
constexpr std::size_t kRangeListCellBytes = 255;

// The file's bytes for the rows: "start,end\r\n" per row, in row order.
std::string FormatRangeListBytes(const RangeListRows& rows);

// Writes the rows to the list file at `path`, creating it when it does not
// exist. A file that exists must be writable. The new list replaces the old
// one only once it has been written completely, so a failed write leaves the
// old list as it was. On failure the run log is told, and the outcome carries
// the warning for the user.
Outcome SaveRangeList(const RangeListRows& rows, const std::string& path);

// Replaces the rows with the list file at `path`, the texts as they stand (the
// user edits them here). A file that cannot be read gives an empty list and
// counts as success. A file with a field that is too long leaves the list
// empty and fails, with the warning for the user.
Outcome LoadRangeList(RangeListRows& rows, const std::string& path);

// LoadRangeList over the bytes of a file.
Outcome LoadRangeListBytes(RangeListRows& rows, std::string_view bytes);

// Orders the rows by the address of their start text (as the scan reads it),
// ascending; rows with the same start keep their order.
void SortRangeList(RangeListRows& rows);
