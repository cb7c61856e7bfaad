#include "view/RowCommands.h"

#include "res/Resource.h"
#include "scan/HostRecord.h"
#include "scan/ResultList.h"

namespace {
// The response mark is read as it always was, through a 32-byte buffer.
constexpr std::size_t kMarkBuffer = 32;
} // namespace

int CopyCommandColumn(int command) {
    switch (command) {
    case ID_COPY_ADDRESS:
        return HostRecord::kAddress;
    case ID_COPY_COMPUTER_NAME:
        return HostRecord::kComputer;
    case ID_COPY_DOMAIN_NAME:
        return HostRecord::kDomain;
    case ID_COPY_MAC_ADDRESS:
        return HostRecord::kMac;
    case ID_COPY_VENDOR:
        return HostRecord::kVendor;
    case ID_COPY_MESSENGER:
        return HostRecord::kMessenger;
    default:
        return -1;
    }
}

void DeleteNonRespondingRows(ResultList& list) {
    // One pass: the rows before a deleted one were checked already and do
    // not change, and the next row moves into the deleted one's index. The
    // list is changed only on the window thread, which runs this.
    int row = 0;
    while (row < list.GetItemCount()) {
        const bool silent =
            list.ReadCell(row, HostRecord::kResponse, kMarkBuffer) == HostRecord::kSilent;
        if (!silent || !list.DeleteItem(row))
            ++row;
    }
}
