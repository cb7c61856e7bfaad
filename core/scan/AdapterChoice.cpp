#include "core/scan/AdapterChoice.h"

#include "core/scan/CNetProbe.h"
#include "core/scan/ScanProbes.h"
#include "core/scan/ScanSink.h"
#include "core/settings/RunLog.h"

namespace {

const char* const kAdapterFailure = "アダプタの初期化に失敗しました。(注)Windows "
                                    "2000で本ツールを使用する場合には、「Netbios over "
                                    "TCPIP」が有効に設定されている必要があります。ただしこの設定を"
                                    "有効にすると、第三者よりあなたのコ"
                                    "ンピュータへアクセスすることが可能となる場合があるため、セキュ"
                                    "リティを正しく設定する必要があります"
                                    "。";

} // namespace

bool ChooseScanAdapter(ScanProbes& probes, ScanSink& sink, int& lana) {
    const LanaSelection selection = probes.SelectLana();
    lana = selection.lana;
    sink.LanaChosen(selection.lana);
    if (selection.code == 0)
        return true;
    sink.Notice({ScanNotice::Source::Scan, {kAdapterFailure, "エラー", MB_OK | MB_ICONERROR}});
    // The code's text is made (and logged) once the first notice has been read.
    sink.Notice(
        {ScanNotice::Source::Scan,
         {CNetProbe().NetbiosResultText(selection.code), "kestrune", MB_OK | MB_ICONERROR}});
    RunLog::Write("アダプタの初期化に失敗しました。\n");
    return false;
}
