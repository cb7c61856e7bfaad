#include "scan/CScanThread.h"

#include "app/ScanSettings.h"
#include "platform/TextCodec.h"
#include "scan/CNetProbe.h"
#include "scan/CThreadManager.h"
#include "scan/HostRecord.h"
#include "scan/NodeStatus.h"
#include "scan/ResultList.h"
#include "scan/ScanProbes.h"
#include "scan/ScanStartDialog.h"

#include <cstring>

void CScanThread::Run() {
    ResultList* view = m_pManager->m_pDialog->View();
    ScanProbes* probes = m_pManager->m_pProbes;
    CNetProbe probe;

    // A probe cut short by Stop has no answer either way: its row keeps an
    // empty mark, like one that was never probed.
    const EchoOutcome echo = probes->PingHost(m_strAddress, &StopRequested);
    if (echo != EchoOutcome::Stopped)
        view->SetItemText(m_nRow, HostRecord::kResponse,
                          echo == EchoOutcome::Answered ? HostRecord::kAnswered
                                                        : HostRecord::kSilent);

    if (echo == EchoOutcome::Answered) {
        unsigned char buffer[kNodeStatusBufferSize];
        std::mutex* lock =
            (IsOn(ScanSettings.SafeMode) || ScanSettings.IsWindowsXp) ? &m_pManager->m_lock : nullptr;
        unsigned char code =
            probes->QueryNodeStatus(m_strAddress, ScanSettings.LanaNumber, buffer, lock,
                                    &StopRequested);
        if (code == 0) {
            NodeStatus status = DecodeNodeStatus(buffer, sizeof buffer,
                                                 IsOn(ScanSettings.IgnoreWorkstationService));
            view->SetItemText(m_nRow, HostRecord::kMac, status.macAddress);
            if (!IsOn(ScanSettings.IgnoreNicVendorId)) {
                char key[7];
                std::memcpy(key, status.macAddress.c_str(), 6);
                key[6] = '\0';
                char vendor[kNicVendorBufferSize];
                probe.LookupNicVendor(key, vendor);
                view->SetItemText(m_nRow, HostRecord::kVendor, vendor);
            }
            // Names are CP932 bytes on the wire; the list holds UTF-8.
            if (status.computerName)
                view->SetItemText(m_nRow, HostRecord::kComputer, Cp932ToUtf8(*status.computerName));
            if (status.domainName)
                view->SetItemText(m_nRow, HostRecord::kDomain, Cp932ToUtf8(*status.domainName));
            view->SetItemText(m_nRow, HostRecord::kMessenger, Cp932ToUtf8(status.messengerNames));
        }
    }

    // Always reached: the manager's end-of-scan wait depends on it.
    std::lock_guard<std::mutex> guard(m_pManager->m_lock);
    --RunningWorkers;
}
