#include "gui/view/ScanMemory.h"

#include "core/inventory/InventoryReport.h"
#include "gui/platform/QtMessageBox.h"
#include "platform/win32/MessageBox.h"

#include <QWidget>

namespace {
const char* const kCaution = "注意";
} // namespace

ScanMemory::ScanMemory(QWidget* view) : QObject(view), m_view(view) {
    m_recorder = std::make_unique<InventoryRecorder>([this](const InventoryRecorder::Outcome& o) {
        // On the recorder's thread: the window thread takes it from here. A
        // call still queued when this object goes is dropped with it.
        QMetaObject::invokeMethod(this, [this, o] { OnOutcome(o); }, Qt::QueuedConnection);
    });
}

ScanMemory::~ScanMemory() {
    m_recorder.reset();
}

void ScanMemory::Record(const std::string& path, RecordedScan scan) {
    ++m_pending;
    m_recorder->Record(path, std::move(scan));
}

void ScanMemory::OnOutcome(const InventoryRecorder::Outcome& outcome) {
    --m_pending;
    QWidget* owner = m_view ? m_view->window() : nullptr;
    if (!outcome.keptAside.empty()) {
        const std::string text = KeptAsideMessage(outcome.path, outcome.keptAside);
        MessageBoxA(BoxOwner(owner), text.c_str(), kCaution, MB_OK | MB_ICONWARNING);
    }
    if (outcome.scan >= 0) {
        m_failureTold = false;
        emit recorded(QString::fromStdString(ChangeCountsText(outcome.counts)));
        return;
    }
    emit failed();
    if (m_failureTold)
        return;
    m_failureTold = true;
    const std::string text = "スキャン結果を記録ファイル「" + outcome.path +
                             "」に記録できませんでした。\n理由: " + PlainText(outcome.error) +
                             "\n記録はオプションの「スキャン結果を記録する」で止められます。";
    MessageBoxA(BoxOwner(owner), text.c_str(), kCaution, MB_OK | MB_ICONWARNING);
}
