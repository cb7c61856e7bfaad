#include "core/commands/ExportFile.h"

#include "core/commands/ExportFormat.h"
#include "platform/text/TextCodec.h"

AtomicWriteResult WriteExportFile(ResultList& list, const std::string& path) {
    return WriteExportText(FormatExportText(list), path);
}

AtomicWriteResult WriteExportText(const std::string& utf8, const std::string& path) {
    // The list's texts all come from CP932 (names from the network, the
    // program's own marks and titles); a character without a CP932 form
    // becomes '?' rather than failing the whole file.
    std::string bytes;
    Utf8ToCp932(utf8, bytes);
    AtomicWriteOptions options;
    // Where the file cannot be replaced by a new one (another owner's file
    // we may write, a directory we may not create in, a hard-linked file), it
    // is written in place, as the export always was; a failure there still
    // keeps the old file.
    options.inPlaceFallback = true;
    return WriteFileAtomically(path, bytes, options);
}
