#include "gui/shell/CMainFrame.h"

#include "core/res/AcceleratorTable.h"
#include "gui/res/MenuBuilder.h"
#include "core/res/MenuResource.h"
#include "core/res/Resource.h"
#include "core/scan/ScanProbes.h"
#include "gui/res/ResourceImages.h"
#include "core/res/StringTable.h"
#include "core/res/ToolbarResource.h"
#include "core/settings/ScanSettings.h"
#include "gui/shell/LockKeyState.h"
#include "gui/view/CTarnelView.h"
#include "gui/view/ScanMemory.h"

#include <QAction>
#include <QEvent>
#include <QLabel>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <set>

namespace {

QString Text(const char* utf8) {
    return QString::fromUtf8(utf8 ? utf8 : "");
}
QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

constexpr int kIndicatorIds[4] = {ID_INDICATOR_KANA, ID_INDICATOR_CAPS, ID_INDICATOR_NUM,
                                  ID_INDICATOR_SCRL};

int QtKeyOf(int key) {
    if (key >= 'A' && key <= 'Z')
        return Qt::Key_A + (key - 'A');
    switch (key) {
    case kKeyBackspace:
        return Qt::Key_Backspace;
    case kKeyInsert:
        return Qt::Key_Insert;
    case kKeyDelete:
        return Qt::Key_Delete;
    case kKeyF6:
        return Qt::Key_F6;
    default:
        return 0;
    }
}

QKeySequence SequenceOf(const Accelerator& a) {
    int combined = QtKeyOf(a.key);
    if (a.modifiers & kAccelCtrl)
        combined |= Qt::ControlModifier;
    if (a.modifiers & kAccelShift)
        combined |= Qt::ShiftModifier;
    if (a.modifiers & kAccelAlt)
        combined |= Qt::AltModifier;
    return QKeySequence(combined);
}

// A toolbar button shows the tool tip of its command's string and nothing
// when the command has none (Qt would fall back to the action's text).
class ToolTipFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ToolTip) {
            auto* button = qobject_cast<QToolButton*>(watched);
            if (button && button->defaultAction() && button->defaultAction()->toolTip().isEmpty())
                return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

CMainFrame::CMainFrame(ScanSettingsRecord& settings, std::function<bool(int)> appCommand,
                       ScanProbes& probes)
    : m_appCommand(std::move(appCommand)), m_settings(settings), m_probes(probes) {
    setObjectName(QStringLiteral("mainFrame"));
}

CMainFrame::~CMainFrame() = default;

bool CMainFrame::OnCreate() {
    m_view = new CTarnelView(m_settings, m_probes, this);
    setCentralWidget(m_view);
    // The context menu's commands take the same way as those of the menus.
    m_view->SetCommandRouter([this](int command) { return OnCommand(command); });
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreateAccelerators();
    m_view->OnInitialUpdate();
    setWindowIcon(ApplicationIcon());
    resize(1040, 600);
    return m_view && m_toolBar && statusBar();
}

QAction* CMainFrame::MakeAction(int command, const QString& text) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::number(command));
    action->setStatusTip(Text(CommandPrompt(command)));
    action->setToolTip(Text(CommandToolTip(command)));
    connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
    return action;
}

QAction* CMainFrame::CommandAction(int command) const {
    auto it = m_actions.find(command);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::CreateMenus() {
    MenuBuilder::Fill(menuBar(), FindMenu(IDR_MAINFRAME), [this](int command, const QString& text) {
        QAction* action = MakeAction(command, text);
        m_actions.emplace(command, action);
        return action;
    });
    for (int toggle : {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR}) {
        QAction* action = CommandAction(toggle);
        action->setCheckable(true);
        action->setChecked(true);
    }
}

void CMainFrame::CreateToolBar() {
    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QString::number(ID_VIEW_TOOLBAR));
    m_toolBar->setWindowTitle(QStringLiteral("ツールバー"));
    m_toolBar->setIconSize(QSize(kToolbarButtonSize, kToolbarButtonSize));
    m_toolBar->setMovable(true); // shows the band's gripper
    m_toolBar->setFloatable(false);
    m_toolBar->setAllowedAreas(Qt::TopToolBarArea);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_toolBar->toggleViewAction()->setVisible(false);
    auto* filter = new ToolTipFilter(m_toolBar);
    for (int command : MainToolbarButtons()) {
        if (command == 0) {
            m_toolBar->addSeparator();
            continue;
        }
        // The button has no text of its own, so that a command without a
        // tool tip shows none.
        QAction* action = MakeAction(command, QString());
        action->setIcon(ToolbarImage(command));
        action->setObjectName(QStringLiteral("toolbar%1").arg(command));
        m_toolBar->addAction(action);
        if (QWidget* button = m_toolBar->widgetForAction(action)) {
            button->installEventFilter(filter);
            button->setObjectName(QStringLiteral("button%1").arg(command));
        }
    }
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    connect(m_toolBar, &QToolBar::visibilityChanged, this,
            [this](bool visible) { CommandAction(ID_VIEW_TOOLBAR)->setChecked(visible); });
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QString::number(ID_VIEW_STATUS_BAR));
    m_messagePane = new QLabel(Text(LoadResourceString(AFX_IDS_IDLEMESSAGE)), bar);
    m_messagePane->setObjectName(QStringLiteral("messagePane"));
    bar->addWidget(m_messagePane, 1);
    // Beside the panes of its own, left of the indicators: what the last
    // recorded scan changed, empty until a scan is recorded. Shown only while
    // scans are recorded; otherwise the bar has its five panes.
    m_inventoryPane = new QLabel(bar);
    m_inventoryPane->setObjectName(QStringLiteral("inventoryPane"));
    m_inventoryPane->setTextFormat(Qt::PlainText);
    bar->addPermanentWidget(m_inventoryPane);
    connect(m_view->Memory(), &ScanMemory::recorded, m_inventoryPane, &QLabel::setText);
    connect(m_view->Memory(), &ScanMemory::failed, m_inventoryPane, &QLabel::clear);
    const QFontMetrics metrics(bar->font());
    for (int i = 0; i < 4; ++i) {
        const QString text = Text(LoadResourceString(kIndicatorIds[i]));
        auto* pane = new QLabel(bar);
        pane->setObjectName(QStringLiteral("indicator%1").arg(kIndicatorIds[i]));
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pane->setAlignment(Qt::AlignCenter);
        pane->setMinimumWidth(metrics.horizontalAdvance(text) + 12);
        m_indicators[i] = pane;
        bar->addPermanentWidget(pane);
    }
    UpdateIndicators();
    m_indicatorTimer = new QTimer(this);
    connect(m_indicatorTimer, &QTimer::timeout, this, &CMainFrame::UpdateIndicators);
    m_indicatorTimer->start(250);
}

void CMainFrame::UpdateInventoryPane() {
    const bool recording = IsOn(m_settings.RecordScans);
    if (m_inventoryPane->isHidden() == recording)
        m_inventoryPane->setVisible(recording);
}

void CMainFrame::UpdateIndicators() {
    // The settings are loaded after the frame is made: the pane follows them.
    UpdateInventoryPane();
    const LockKeyState state = ReadLockKeyState();
    const bool on[4] = {state.kana, state.caps, state.num, state.scroll};
    for (int i = 0; i < 4; ++i) {
        // A pane shows its text while its key is on, as the indicators do.
        const QString text = on[i] ? Text(LoadResourceString(kIndicatorIds[i])) : QString();
        if (m_indicators[i]->text() != text)
            m_indicators[i]->setText(text);
    }
}

QStringList CMainFrame::PaneTexts() const {
    QStringList texts;
    const QString message = statusBar()->currentMessage();
    texts << (message.isEmpty() ? m_messagePane->text() : message);
    for (QLabel* pane : m_indicators)
        texts << pane->text();
    return texts;
}

void CMainFrame::CreateAccelerators() {
    std::set<QKeySequence> taken;
    for (const Accelerator& a : MainAccelerators()) {
        const QKeySequence sequence = SequenceOf(a);
        // The first row of a key acts; later rows for it never do.
        if (!taken.insert(sequence).second)
            continue;
        auto* shortcut = new QShortcut(sequence, this);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setObjectName(QStringLiteral("accel%1").arg(a.command));
        const int command = a.command;
        connect(shortcut, &QShortcut::activated, this, [this, command] { OnCommand(command); });
    }
}

bool CMainFrame::OnCommand(int command) {
    emit commandIssued(command);
    if (m_view && m_view->OnCommand(command)) {
        UpdateInventoryPane(); // the options may have changed
        return true;
    }
    switch (command) {
    case ID_VIEW_TOOLBAR:
        m_toolBar->setVisible(!m_toolBar->isVisible());
        CommandAction(ID_VIEW_TOOLBAR)->setChecked(m_toolBar->isVisible());
        return true;
    case ID_VIEW_STATUS_BAR:
        statusBar()->setVisible(!statusBar()->isVisible());
        CommandAction(ID_VIEW_STATUS_BAR)->setChecked(statusBar()->isVisible());
        return true;
    case ID_APP_EXIT:
        close();
        return true;
    default:
        break;
    }
    // The document commands that only keys reach (new, open, save, print)
    // and the edit commands have nothing to act on: the document holds no
    // data and the list is not editable.
    return m_appCommand && m_appCommand(command);
}
