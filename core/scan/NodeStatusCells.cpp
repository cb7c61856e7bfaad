#include "core/scan/NodeStatusCells.h"

#include "core/scan/CNetProbe.h"
#include "core/scan/NodeStatus.h"
#include "platform/TextCodec.h"

#include <cstring>

namespace {

void SetMacCells(HostRecord& record, const std::string& macText, const ScanOptions& options) {
    record.cells[HostRecord::kMac] = macText;
    if (!options.ignoreNicVendor) {
        char key[7];
        std::memcpy(key, macText.c_str(), 6);
        key[6] = '\0';
        char vendor[kNicVendorBufferSize];
        CNetProbe().LookupNicVendor(key, vendor);
        record.cells[HostRecord::kVendor] = vendor;
    }
}

} // namespace

void FillMacCells(HostRecord& record, const unsigned char mac[6], const ScanOptions& options) {
    SetMacCells(record, HostRecord::FormatMac(mac), options);
}

void FillNodeStatusCells(HostRecord& record, const unsigned char* buffer, std::size_t size,
                         const ScanOptions& options) {
    const NodeStatus status = DecodeNodeStatus(buffer, size, options.ignoreWorkstation);
    SetMacCells(record, status.macAddress, options);
    // Names are CP932 bytes on the wire; the list holds UTF-8.
    if (status.computerName)
        record.cells[HostRecord::kComputer] = Cp932ToUtf8(*status.computerName);
    if (status.domainName)
        record.cells[HostRecord::kDomain] = Cp932ToUtf8(*status.domainName);
    record.cells[HostRecord::kMessenger] = Cp932ToUtf8(status.messengerNames);
}
