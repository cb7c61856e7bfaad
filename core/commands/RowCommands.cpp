#include "core/commands/RowCommands.h"

#include "core/res/Resource.h"
#include "core/scan/HostRecord.h"

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
