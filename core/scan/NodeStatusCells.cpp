#include "core/scan/NodeStatusCells.h"

#include "core/scan/CNetProbe.h"
#include "core/scan/NodeStatus.h"
#include "platform/win32/AdapterStatus.h"
#include "platform/text/TextCodec.h"

#include <algorithm>
#include <cstring>

void TakeNodeStatus(HostRecord& record, const unsigned char* buffer, std::size_t size) {
    record.nodeStatus = true;
    record.names = NameTableOf(buffer, size);
    record.hasMac = true;
    record.mac = {};
    std::copy_n(buffer, std::min<std::size_t>(size, record.mac.size()), record.mac.begin());
}

void TakeNodeStatus(HostRecord& record, const NodeStatusAnswer& answer) {
    record.nodeStatus = true;
    record.hasMac = true;
    record.mac = answer.unitId;
    record.names.clear();
    for (const NodeStatusAnswer::Name& entry : answer.names) {
        if (entry.bytes[0] == 0 || record.names.size() >= std::size_t(kNodeStatusMaxNames))
            break;
        HostName name;
        name.name.assign(reinterpret_cast<const char*>(entry.bytes.data()), 15);
        name.suffix = entry.bytes[15];
        name.flags = NameFlagsFromReply(entry.flags);
        record.names.push_back(std::move(name));
    }
}

void MakeCells(HostRecord& record, const ScanOptions& options) {
    if (record.address != 0)
        record.cells[HostRecord::kAddress] = HostRecord::FormatAddress(record.address);
    if (record.hasMac) {
        const std::string mac = HostRecord::FormatMac(record.mac.data());
        record.cells[HostRecord::kMac] = mac;
        if (!options.ignoreNicVendor) {
            char vendor[kNicVendorBufferSize];
            CNetProbe().LookupNicVendor(mac.substr(0, 6).c_str(), vendor);
            record.cells[HostRecord::kVendor] = vendor;
        }
    }
    if (!record.nodeStatus)
        return;
    // Names are CP932 bytes on the wire; the list holds UTF-8.
    const NodeStatusNames names = DecodeNodeStatusNames(record.names, options.ignoreWorkstation);
    if (names.computerName)
        record.cells[HostRecord::kComputer] = Cp932ToUtf8(*names.computerName);
    if (names.domainName)
        record.cells[HostRecord::kDomain] = Cp932ToUtf8(*names.domainName);
    record.messengers.clear();
    std::string joined;
    for (const std::string& name : names.messengerNames) {
        record.messengers.push_back(Cp932ToUtf8(name));
        joined += (joined.empty() ? "" : "/") + record.messengers.back();
    }
    record.cells[HostRecord::kMessenger] = joined;
}
