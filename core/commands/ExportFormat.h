#pragma once
// The result list as export text: the column titles, then one line per row,
// seven comma-separated fields, "-" for an empty cell, each line ended by
// CR LF. A cell is written as it is unless a spreadsheet or a CSV reader
// would take it for something else (see ExportCell).

#include <string>
#include <string_view>

class ResultList;

// One cell as the export file holds it. Empty: "-". CR and LF become '.',
// so that no cell can start a line of its own. A cell starting with '=',
// '+', '-' or '@' gets a leading apostrophe, so that a spreadsheet shows it
// as text rather than running it as a formula. A cell holding a comma or a
// double quote is put in double quotes, its quotes doubled. Any other cell
// is written byte for byte. Works on CP932 bytes as well as on UTF-8: none
// of the bytes it looks for can be the second byte of a CP932 character where
// it looks for them.
std::string ExportCell(std::string_view cell);

// The text in UTF-8; each cell cut as a 256-byte buffer cuts it (at most 255
// CP932 bytes, never half a character), then written by ExportCell.
std::string FormatExportText(ResultList& list);
