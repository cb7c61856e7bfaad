#include "core/commands/DiagnoseResult.h"

#include "core/scan/CNetProbe.h"
#include "core/scan/HostCells.h"
#include "core/scan/NodeStatusCells.h"
#include "core/scan/ScanProbes.h"

#include <cstdio>

DiagnoseResult RunDiagnosis(ScanProbes& probes, const std::string& address, int lana,
                            int pingTimeoutMs, const StopSignal* stop) {
    DiagnoseResult result;
    CNetProbe probe;

    result.text = probes.PingHost(address, pingTimeoutMs, stop) == EchoOutcome::Answered
                      ? "PING応答あり\r\n"
                      : "PING応答なし\r\n";

    NodeStatusAnswer answer;
    const unsigned char code = probes.QueryNodeStatus(address, lana, answer, nullptr, stop);
    if (code != 0) {
        char line[64];
        std::snprintf(line, sizeof line, "失敗：エラーコード：%d\r\n", static_cast<int>(code));
        result.text += line;
        result.text += probe.NetbiosResultText(code);
        result.text += "\r\n";
        return result;
    }

    // The host's value as a scan makes it, except that the vendor is always
    // looked up and the host's own messenger name always left out.
    ScanOptions options;
    options.ignoreNicVendor = false;
    options.ignoreWorkstation = true;
    const HostRecord host = HostOfAnswer(answer, options);
    result.decoded = true;
    result.macAddress = CellOf(host, HostRecord::kMac);
    result.vendor = host.vendor;
    result.computerName = host.computer;
    result.domainName = host.workgroup;
    result.messengerNames = CellOf(host, HostRecord::kMessenger);
    result.text += "完了";
    return result;
}
