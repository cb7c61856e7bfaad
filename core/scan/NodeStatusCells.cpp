#include "core/scan/NodeStatusCells.h"

#include "core/scan/CNetProbe.h"
#include "core/scan/NodeStatus.h"
#include "platform/TextCodec.h"

#include <cstring>

void FillNodeStatusCells(HostRecord& record, const unsigned char* buffer, std::size_t size,
                         const ScanOptions& options) {
    const NodeStatus status = DecodeNodeStatus(buffer, size, options.ignoreWorkstation);
    record.cells[HostRecord::kMac] = status.macAddress;
    if (!options.ignoreNicVendor) {
        char key[7];
        std::memcpy(key, status.macAddress.c_str(), 6);
        key[6] = '\0';
        char vendor[kNicVendorBufferSize];
        CNetProbe().LookupNicVendor(key, vendor);
        record.cells[HostRecord::kVendor] = vendor;
    }
    // Names are CP932 bytes on the wire; the list holds UTF-8.
    if (status.computerName)
        record.cells[HostRecord::kComputer] = Cp932ToUtf8(*status.computerName);
    if (status.domainName)
        record.cells[HostRecord::kDomain] = Cp932ToUtf8(*status.domainName);
    record.cells[HostRecord::kMessenger] = Cp932ToUtf8(status.messengerNames);
}
