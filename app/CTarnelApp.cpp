#include "app/CTarnelApp.h"

#include "core/res/Resource.h"
#include "core/scan/NodeStatusQuery.h"
#include "core/settings/RunLog.h"
#include "core/settings/SettingsStore.h"
#include "gui/dialogs/CDiagnoseDlg.h"
#include "gui/platform/QtFileDialog.h"
#include "gui/platform/QtMessageBox.h"
#include "gui/res/ResourceImages.h"
#include "gui/shell/CAboutDlg.h"
#include "gui/shell/CMainFrame.h"
#include "gui/view/CTarnelView.h"
#include "platform/net/OwnAddress.h"
#include "platform/net/RawIcmpSockets.h"
#include "platform/net/SocketStartup.h"
#include "platform/os/DescriptorLimit.h"
#include "platform/os/KernelVersion.h"
#include "platform/os/ProgramDirectory.h"
#include "platform/win32/MessageBox.h"
#include "platform/win32/ProbeNotices.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char* const kCaution = "注意";
const char* const kError = "エラー";

const char* const kBadProgramName = "exe 名,プログラム名が不正です。";
const char* const kNoDataDirectory = "データを保存するディレクトリを作成できませんでした。";
const char* const kNoLog = "ログファイルをオープンできませんでした。";
const char* const kManyAdapters =
    "複数のネットワークインターフェース(LANカード等)が検出されました。正常に動作しない可能性があり"
    "ます。";
const char* const kNoAdapter = "ネットワークインターフェース(LANカード等)が見つかりませんでした。";
const char* const kNoTcpIp = "TCPIPが起動されていません。";
const char* const kNoOwnAddress =
    "このコンピュータのIPアドレスを取得できませんでした。このコンピュータで、TCPIPが起動されている"
    "か確認してください。";
const char* const kNoOwnAddressLog = "このコンピュータのIPアドレスを取得できません。\n";

int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    // Nothing else is safe in a signal handler; the window thread does the rest.
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

bool HasDisplay() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

} // namespace

CTarnelApp::CTarnelApp(int& argc, char** argv) : m_argc(argc), m_argv(argv) {}

CTarnelApp::~CTarnelApp() {
    delete m_pMainWnd;
    delete m_app;
}

void CTarnelApp::InstallWindowServices() {
    // For unattended runs (scripts, tests) the boxes can go to standard error,
    // each answered with its default button.
    if (!qEnvironmentVariableIsSet("VOPAL_BOXES_ON_STDERR"))
        InstallQtMessageBoxes();
    InstallQtFileDialogs();
}

std::optional<int> CTarnelApp::InitInstance() {
    // 1. Single instance: a second copy ends quietly and touches nothing.
    m_lock = InstanceLock::Acquire();
    if (!m_lock.held())
        return 0;
    if (std::optional<int> code = StartWindowSystem())
        return code;

    // 2. Program directory.
    if (std::optional<int> code = TakeProgramDirectory())
        return code;

    // 3. Run log.
    if (!RunLog::Open(m_settings.ProgramDirectoryPath))
        MessageBoxA(nullptr, kNoLog, kCaution, MB_OK | MB_ICONEXCLAMATION);

    // 4. Operating system.
    const KernelVersion version = CurrentKernelVersion();

    // 5. NetBIOS adapters.
    CheckAdapters();
    RunLog::Write("OS Version: %d.%d\n", version.major, version.minor);

    // 7. Main window with its view.
    m_pMainWnd = new CMainFrame(
        m_settings, [this](int command) { return OnCommand(command); }, *m_probes);
    if (!m_pMainWnd->OnCreate())
        return 0;

    // 8. TCP/IP.
    if (CheckIpv4Sockets() != 0) {
        MessageBoxA(BoxOwner(m_pMainWnd), kNoTcpIp, kError, MB_OK | MB_ICONERROR);
        return 1;
    }

    // 9. Own address.
    m_localAddressFound = FindOwnAddresses().found;
    if (!m_localAddressFound) {
        MessageBoxA(BoxOwner(m_pMainWnd), kNoOwnAddress, kError, MB_OK | MB_ICONERROR);
        RunLog::Write("%s", kNoOwnAddressLog);
    }

    // 11. Settings.
    m_store.Load(m_settings);

    // 12. The window.
    m_pMainWnd->show();
    m_pMainWnd->repaint();
    m_pMainWnd->setWindowTitle(QString::fromUtf8(kCaption));

    // 13. Without an address of its own the computer has nothing to scan.
    if (!m_localAddressFound)
        return 1;

    // 14.
    RunLog::Write("ディレクトリ： %s\n", m_settings.ProgramDirectory.c_str());
    return std::nullopt;
}

std::optional<int> CTarnelApp::StartWindowSystem() {
    if (!HasDisplay()) {
        std::fputs("vopal: there is no display to open the window on (neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set).\nRun it on a desktop, under a virtual display "
                   "(xvfb-run -a vopal), or scan from the command line with vopal-scan.\n",
                   stderr);
        return 1;
    }
    m_app = new QApplication(m_argc, m_argv);
    // The framework's own dialogs (file dialogs, standard buttons) in Japanese
    // like the rest of the program.
    auto* translator = new QTranslator(m_app);
    if (translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    m_images.emplace();
    QApplication::setWindowIcon(ApplicationIcon());
    InstallWindowServices();
    WatchTerminationSignals();
    // Every worker needs sockets of its own; take all the descriptors the
    // system allows this process.
    RaiseDescriptorLimit();
    // Raw ICMP sockets, where ping sockets are refused, come from our helper:
    // this process itself never holds a capability.
    m_echo.emplace(FindIcmpHelperOfThisProgram());
    m_probes.emplace(*m_echo);
    return std::nullopt;
}

std::optional<int> CTarnelApp::TakeProgramDirectory() {
    ProgramDirectoryInfo directory;
    switch (FindProgramDirectory(directory)) {
    case ProgramDirectoryResult::Found:
        break;
    case ProgramDirectoryResult::UnknownExecutable:
        MessageBoxA(nullptr, kBadProgramName, nullptr, MB_OK | MB_ICONEXCLAMATION);
        return 1;
    case ProgramDirectoryResult::NoDataDirectory: {
        // An installed copy without a data directory has nowhere to keep its
        // log and list file; its own directory is never the answer.
        const std::string text =
            std::string(kNoDataDirectory) + (directory.path.empty() ? "" : "\n" + directory.path);
        MessageBoxA(nullptr, text.c_str(), kError, MB_OK | MB_ICONERROR);
        return 1;
    }
    }
    m_settings.ProgramDirectory = directory.display;
    m_settings.ProgramDirectoryPath = directory.path;
    return std::nullopt;
}

void CTarnelApp::CheckAdapters() {
    const int adapters = [] {
        const ProbeNoticeScope notices(ShowProbeNotice);
        return CountResponsiveLanas();
    }();
    if (adapters > 1) {
        MessageBoxA(nullptr, kManyAdapters, kCaution, MB_OK | MB_ICONEXCLAMATION);
        RunLog::Write("%s\n", kManyAdapters);
    } else if (adapters == 0) {
        MessageBoxA(nullptr, kNoAdapter, kCaution, MB_OK | MB_ICONEXCLAMATION);
        RunLog::Write("%s\n", kNoAdapter);
    }
}

void CTarnelApp::WatchTerminationSignals() {
    // A session that ends (SIGTERM, SIGHUP) or Ctrl+C in the terminal closes
    // the window the normal way, so that the settings are saved.
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, m_app);
    QObject::connect(notifier, &QSocketNotifier::activated, m_app, [this] {
        char bytes[16];
        while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        CloseWhenNoScanRuns();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signal, &action, nullptr);
}

void CTarnelApp::CloseWhenNoScanRuns() {
    // A running scan still writes to the view; stop it and let its started
    // probes finish before the window goes.
    CTarnelView* view = m_pMainWnd ? m_pMainWnd->View() : nullptr;
    if (view && view->ScanRunning()) {
        view->StopScan();
        QTimer::singleShot(100, m_app, [this] { CloseWhenNoScanRuns(); });
        return;
    }
    // A diagnosis under way is cut short rather than waited for.
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* diagnose = qobject_cast<CDiagnoseDlg*>(widget))
            diagnose->Abandon();
    // Dialogs first (their loops end), then the main window ends the program.
    // A dialog that may not close yet (one still waiting for its probes) is
    // asked again shortly; once the program ends, nothing is asked any more.
    QApplication::closeAllWindows();
    QCoreApplication::quit();
    QTimer::singleShot(200, m_app, [this] { CloseWhenNoScanRuns(); });
}

int CTarnelApp::Run() {
    return m_app ? m_app->exec() : 0;
}

bool CTarnelApp::OnCommand(int command) {
    if (command != ID_APP_ABOUT)
        return false;
    CAboutDlg dialog(m_pMainWnd);
    dialog.exec();
    return true;
}

int CTarnelApp::ExitInstance(int loopCode) {
    RunLog::Close();
    // Only when the settings were loaded in this run.
    for (const UserMessage& failure : m_store.Save(m_settings))
        MessageBoxA(nullptr, failure);
    m_lock.Release();
    return loopCode;
}
