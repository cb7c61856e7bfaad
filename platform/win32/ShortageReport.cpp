#include "platform/win32/ShortageReport.h"

#include "platform/win32/ProbeNotices.h"

#include <atomic>

namespace {

const char* const kShortageMessage =
    "ファイル記述子またはメモリが足りないため、"
    "ホストを調べるソケットを開けませんでした。\n"
    "応答したホストが、応答なしや名前なしと表示されている可能性があります。\n"
    "\n"
    "同時に動かすスレッド数を減らすか、"
    "開けるファイル数の上限 (ulimit -n) を上げてから、もう一度スキャンしてください。";

} // namespace

void ReportResourceShortage() {
    static std::atomic<bool> told{false};
    if (told.exchange(true))
        return;
    TellProbeNotice(ResourceShortageMessage());
}

UserMessage ResourceShortageMessage() {
    return {kShortageMessage, "エラー", MB_OK | MB_ICONERROR};
}
