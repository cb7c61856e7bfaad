#include "core/scan/ScanNotice.h"

#include "core/scan/ScanSink.h"

ProbeNoticeReceiver ProbeNoticesTo(ScanSink& sink) {
    return [&sink](const UserMessage& message) {
        sink.Notice({ScanNotice::Source::Probe, message});
    };
}
