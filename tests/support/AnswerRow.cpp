#include "tests/support/AnswerRow.h"

#include "core/scan/NodeStatusCells.h"

HostRecord RowOfAnswer(const NodeStatusAnswer& answer, bool skipOwnMessengerName) {
    ScanOptions options;
    options.ignoreNicVendor = true;
    options.ignoreWorkstation = skipOwnMessengerName;
    return HostOfAnswer(answer, options);
}
