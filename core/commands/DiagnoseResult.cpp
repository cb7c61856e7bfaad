#include "core/commands/DiagnoseResult.h"

#include "core/scan/CNetProbe.h"
#include "core/scan/NodeStatus.h"
#include "core/scan/ScanProbes.h"
#include "platform/text/TextCodec.h"

#include <cstdio>
#include <cstring>

DiagnoseResult RunDiagnosis(ScanProbes& probes, const std::string& address, int lana,
                            int pingTimeoutMs, const StopSignal* stop) {
    DiagnoseResult result;
    CNetProbe probe;

    result.text = probes.PingHost(address, pingTimeoutMs, stop) == EchoOutcome::Answered
                      ? "PING応答あり\r\n"
                      : "PING応答なし\r\n";

    unsigned char buffer[kNodeStatusBufferSize];
    const unsigned char code = probes.QueryNodeStatus(address, lana, buffer, nullptr, stop);
    if (code != 0) {
        char line[64];
        std::snprintf(line, sizeof line, "失敗：エラーコード：%d\r\n", static_cast<int>(code));
        result.text += line;
        result.text += probe.NetbiosResultText(code);
        result.text += "\r\n";
        return result;
    }

    const NodeStatus status = DecodeNodeStatus(buffer, sizeof buffer, true);
    result.decoded = true;
    result.macAddress = status.macAddress;
    char key[7] = {};
    std::strncpy(key, status.macAddress.c_str(), 6);
    char vendor[kNicVendorBufferSize];
    probe.LookupNicVendor(key, vendor);
    result.vendor = vendor;
    // Names are CP932 bytes from the network; the window shows UTF-8.
    if (status.computerName)
        result.computerName = Cp932ToUtf8(*status.computerName);
    if (status.domainName)
        result.domainName = Cp932ToUtf8(*status.domainName);
    result.messengerNames = Cp932ToUtf8(status.messengerNames);
    result.text += "完了";
    return result;
}
