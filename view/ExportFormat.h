#pragma once
// The result list as export text: the column titles, then one line per row,
// seven comma-separated fields, "-" for an empty cell, each line ended by
// CR LF. Fields are never quoted (other programs read the file this way).

#include <string>

class ResultList;

// The text in UTF-8; each cell cut as a 256-byte buffer cuts it (at most 255
// CP932 bytes, never half a character).
std::string FormatExportText(ResultList& list);
