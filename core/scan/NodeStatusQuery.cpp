#include "core/scan/NodeStatusQuery.h"

#include "core/settings/ParseLeadingInt.h"
#include "core/settings/RunLog.h"
#include "platform/os/DescriptorLimit.h"
#include "platform/win32/ProbeNotices.h"

#include <cstring>

namespace {

constexpr std::size_t kResetBufferSize = 256;
constexpr int kSelectLanaLast = 10; // LANA 0..10 are tried at scan start
constexpr int kCountLanaLast = 9;   // LANA 0..9 are counted at start-up

// A reset NCB that asks for the default resource limits (lsn and callname 0).
void PrepareReset(NCB& ncb, UCHAR (&buffer)[kResetBufferSize]) {
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = NCBRESET;
    ncb.ncb_buffer = buffer;
    ncb.ncb_length = static_cast<WORD>(kResetBufferSize);
}

} // namespace

bool MakeCallName(const std::string& address, UCHAR (&callName)[NCBNAMSZ]) {
    std::memset(callName, ' ', sizeof callName);
    // Byte 16 must stay a blank, and a zero byte would end the name early:
    // either way the query could reach some other host than the one meant.
    if (address.size() >= sizeof callName || address.find('\0') != std::string::npos)
        return false;
    std::memcpy(callName, address.data(), address.size());
    return true;
}

UCHAR QueryNodeStatus(const std::string& address, int lana, UCHAR (&buffer)[kNodeStatusBufferSize],
                      std::mutex* lockAroundCall, const StopSignal* stop, NodeStatusAnswer* answer,
                      NetbiosFunction netbios) {
    std::memset(buffer, 0, sizeof buffer);
    NCB ncb;
    std::memset(&ncb, 0, sizeof ncb);
    if (!MakeCallName(address, ncb.ncb_callname))
        return NRC_NOCALL;
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_buffer = buffer;
    ncb.ncb_length = static_cast<WORD>(sizeof buffer);
    ncb.ncb_lana_num = static_cast<UCHAR>(lana & 0xFF);

    if (lockAroundCall == nullptr)
        return netbios(&ncb, stop, answer);
    // The other queries wait for this lock; a notice (whose receiver may wait
    // for the user) must not keep them waiting.
    const ProbeNoticeScope held(ProbeNoticeScope::Hold{});
    std::lock_guard<std::mutex> guard(*lockAroundCall);
    return netbios(&ncb, stop, answer);
}

LanaSelection SelectLana(NetbiosFunction netbios) {
    UCHAR buffer[kResetBufferSize];
    NCB ncb;
    PrepareReset(ncb, buffer);

    LanaSelection selection;
    for (selection.lana = 0; selection.lana <= kSelectLanaLast; ++selection.lana) {
        ncb.ncb_lana_num = static_cast<UCHAR>(selection.lana);
        selection.code = netbios(&ncb, nullptr, nullptr);
        if (selection.code == NRC_GOODRET)
            break;
    }
    if (selection.lana > kSelectLanaLast)
        selection.lana = kSelectLanaLast;
    return selection;
}

int CountResponsiveLanas(NetbiosFunction netbios) {
    UCHAR buffer[kResetBufferSize];
    NCB ncb;
    PrepareReset(ncb, buffer);

    int count = 0;
    for (int lana = 0; lana <= kCountLanaLast; ++lana) {
        ncb.ncb_lana_num = static_cast<UCHAR>(lana);
        if (netbios(&ncb, nullptr, nullptr) == NRC_GOODRET) {
            RunLog::Write("%d番のスロットが応答しました。\n", lana);
            ++count;
        }
    }
    return count;
}

Outcome TestLana(const std::string& fieldText, NetbiosFunction netbios) {
    UCHAR buffer[kResetBufferSize];
    NCB ncb;
    PrepareReset(ncb, buffer);
    ncb.ncb_lana_num = static_cast<UCHAR>(ParseLeadingInt(fieldText) & 0xFF);

    if (netbios(&ncb, nullptr, nullptr) == NRC_GOODRET)
        return {true, UserMessage{"テストは成功しました。", "テスト結果", MB_OK}};
    return Outcome::Failed({"この番号は使用できません。", "テスト結果", MB_OK | MB_ICONWARNING});
}
