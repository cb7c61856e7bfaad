#pragma once
// The export file: the result list as CP932 text with CR LF line ends (see
// FormatExportText), written so that a failure keeps the old file whole.

#include "platform/os/AtomicFile.h"

#include <string>

class ResultList;

// Writes the list's current rows as the whole contents of the file at
// `path`, creating or replacing it. On failure `error` of the result is the
// errno of the step that failed.
AtomicWriteResult WriteExportFile(ResultList& list, const std::string& path);

// Writes export text (UTF-8, lines made with ExportCell) as the export file
// is written: in CP932, replacing the file at `path` or keeping it whole.
AtomicWriteResult WriteExportText(const std::string& utf8, const std::string& path);
