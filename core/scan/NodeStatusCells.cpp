#include "core/scan/NodeStatusCells.h"

#include "core/scan/CNetProbe.h"
#include "core/scan/NodeStatus.h"
#include "platform/text/TextCodec.h"

void TakeNodeStatus(HostRecord& record, const NodeStatusAnswer& answer,
                    const ScanOptions& options) {
    record.nodeStatus = true;
    record.hasMac = true;
    record.mac = answer.unitId;
    std::vector<HostName> table;
    for (const NodeStatusAnswer::Name& entry : answer.names) {
        if (entry.bytes[0] == 0 || table.size() >= std::size_t(kNodeStatusMaxNames))
            break;
        HostName name;
        name.name.assign(reinterpret_cast<const char*>(entry.bytes.data()), 15);
        name.suffix = entry.suffix();
        name.group = entry.group();
        table.push_back(std::move(name));
    }
    // Names are CP932 bytes on the wire; the value holds UTF-8.
    const NodeStatusNames names = DecodeNodeStatusNames(table, options.ignoreWorkstation);
    record.computer.reset();
    record.workgroup.reset();
    if (names.computerName)
        record.computer = Cp932ToUtf8(*names.computerName);
    if (names.domainName)
        record.workgroup = Cp932ToUtf8(*names.domainName);
    record.messengers.clear();
    for (const std::string& name : names.messengerNames)
        record.messengers.push_back(Cp932ToUtf8(name));
}

void TakeVendor(HostRecord& record, const ScanOptions& options) {
    if (!record.hasMac || options.ignoreNicVendor)
        return;
    char vendor[kNicVendorBufferSize];
    CNetProbe().LookupNicVendor(HostRecord::FormatMac(record.mac.data()).substr(0, 6).c_str(),
                                vendor);
    record.vendor = vendor;
}

HostRecord HostOfAnswer(const NodeStatusAnswer& answer, const ScanOptions& options) {
    HostRecord host;
    TakeNodeStatus(host, answer, options);
    TakeVendor(host, options);
    return host;
}
