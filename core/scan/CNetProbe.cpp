#include "core/scan/CNetProbe.h"

#include "core/scan/NicVendorTable.h"
#include "core/settings/RunLog.h"
#include "platform/win32/IcmpEcho.h"
#include "platform/win32/Netbios.h"

#include <cstring>

namespace {

const char* TextForCode(UCHAR code) {
    switch (code) {
    case NRC_GOODRET:
        return "netbios:成功";
    case NRC_BUFLEN:
        return "netbios:バッファの長さに誤りがあります";
    case NRC_ILLCMD:
        return "netbios:コマンドに誤りがあります";
    case NRC_CMDTMO:
        return "netbios:タイムアウト";
    case NRC_INCOMP:
        return "netbios:メッセージが不完全です";
    case NRC_BADDR:
        return "netbios:バッファのアドレスが不整です";
    case NRC_SNUMOUT:
        return "netbios:セッション番号が範囲外です";
    case NRC_NORES:
        return "netbios:リソースが足りません";
    case NRC_SCLOSED:
        return "netbios:セッションはクローズされています";
    case NRC_CMDCAN:
        return "netbios:コマンドはキャンセルされました";
    case NRC_DUPNAME:
        return "netbios:ローカルネームテーブルで名前が重複しています";
    case NRC_NAMTFUL:
        return "netbios:ネームテーブルに空きがありません";
    case NRC_ACTSES:
        return "netbios:名前はアクティブなセッションで、登録されません";
    case NRC_LOCTFUL:
        return "netbios:ローカルセッションテーブルに空きがありません";
    case NRC_REMTFUL:
        return "netbios:"
               "セッションのオープンが拒否されました。リモートのセッションテーブルに空きがありませ"
               "ん";
    case NRC_ILLNN:
        return "netbios:不整な番号が指定されました";
    case NRC_NOCALL:
        return "netbios:呼ばれた名前が見つかりませんでした";
    case NRC_NOWILD:
        return "netbios:*は使用できません";
    case NRC_INUSE:
        return "netbios:名前は既にリモートで使用されています";
    case NRC_NAMERR:
        return "netbios:名前は削除されています";
    case NRC_SABORT:
        return "netbios:セッションは異常終了しました";
    case NRC_NAMCONF:
        return "netbios:名前が衝突しています";
    case NRC_IFBUSY:
        return "netbios:インターフェースがビジーです";
    case NRC_TOOMANY:
        return "netbios:コマンドが多すぎて処理できないため、後で処理されます";
    case NRC_BRIDGE:
        return "netbios:ncb_lana_numが正しいネットワーク番号を指定していません";
    case NRC_CANOCCR:
        return "netbios:キャンセルが発行された間にコマンドはキャンセルされました";
    case NRC_CANCEL:
        return "netbios:コマンドが不整ですが、キャンセルされていません";
    case NRC_DUPENV:
        return "netbios:他のローカルプロセスで名前が定義されています";
    case NRC_ENVNOTDEF:
        return "netbios:環境が指定されていなため、リセットを発行する必要があります";
    case NRC_OSRESNOTAV:
        return "netbios:OSのリソースが不足しているため、コマンドは後で処理されます";
    case NRC_MAXAPPS:
        return "netbios:アプリケーションが最大値を超えています";
    case NRC_NOSAPS:
        return "netbios:SAPs はnetbois用に使用できません";
    case NRC_NORESOURCES:
        return "netbios:要求されたリソースは使用できません";
    case NRC_INVADDRESS:
        return "netbios:アドレスが不整です";
    case NRC_INVDDID:
        return "netbios:NCBのDDIDが不整です";
    case NRC_LOCKFAIL:
        return "netbios:ユーザエリアのロックに失敗しました";
    case NRC_OPENERR:
        return "netbios:デバイスドライバよりエラーが発生しましたが、このエラーはnetbios3."
               "0の仕様ではありません";
    case NRC_SYSTEM:
        return "netbios:システムエラーが発生しました";
    case NRC_PENDING:
        return "netbios:同期処理はまだ終了していません";
    default:
        return "netbios:エラーがマッピングできませんでした";
    }
}

} // namespace

std::string CNetProbe::NetbiosResultText(unsigned code) {
    const char* text = TextForCode(static_cast<UCHAR>(code & 0xFFu));
    RunLog::Write("netbiosのエラー：%s\n", text);
    return text;
}

EchoOutcome CNetProbe::PingHost(IcmpEchoService& echo, const std::string& address, int timeoutMs,
                                const StopSignal* stop) {
    return echo.EchoUntil(address, timeoutMs, stop);
}

void CNetProbe::LookupNicVendor(const char* key, char* vendor) {
    const char* name = key ? FindNicVendor(key) : nullptr;
    if (!name)
        name = "不明";
    std::strncpy(vendor, name, kNicVendorBufferSize - 1);
    vendor[kNicVendorBufferSize - 1] = '\0';
}
