#include "core/scan/ResultList.h"

#include "platform/text/TextCodec.h"

std::string ResultList::ReadCell(int row, int column, std::size_t bufferSize) {
    if (bufferSize == 0)
        return {};
    return TruncateToCp932Bytes(GetItemText(row, column), bufferSize - 1);
}
