#pragma once
// The application object: brings the program up in a fixed order (single
// instance, program directory, run log, operating system, adapters, main
// window, TCP/IP, own address, settings) and down again (log closed,
// settings saved, lock released).

#include "core/scan/RealScanProbes.h"
#include "core/settings/ScanSettings.h"
#include "core/settings/SettingsStore.h"
#include "gui/res/ResourceImages.h"
#include "platform/os/InstanceLock.h"
#include "platform/win32/IcmpEcho.h"

#include <optional>

class CMainFrame;
class QApplication;

class CTarnelApp {
public:
    static constexpr const char* kCaption = "Kestrune DURVANE Ver.030128";

    CTarnelApp(int& argc, char** argv);
    ~CTarnelApp();

    // Nothing when the message loop is to run; else the exit code to end
    // with (1 after a fatal problem's message, 0 for a second copy), which
    // ExitInstance then returns after the shutdown steps.
    std::optional<int> InitInstance();

    // Runs the message loop; returns its exit code.
    int Run();

    // Shutdown; returns the process exit code.
    int ExitInstance(int loopCode);

    // The commands of the application itself (the about box).
    bool OnCommand(int command);

    CMainFrame* MainFrame() const { return m_pMainWnd; }
    bool LocalAddressFound() const { return m_localAddressFound; }

private:
    // The steps of InitInstance; each gives the exit code when the program
    // cannot go on.
    std::optional<int> StartWindowSystem();
    std::optional<int> TakeProgramDirectory();
    void CheckAdapters();

    void InstallWindowServices();
    void WatchTerminationSignals();
    void CloseWhenNoScanRuns();

    int& m_argc;
    char** m_argv;
    InstanceLock m_lock;
    QApplication* m_app = nullptr; // never destroyed on a fatal stop
    std::optional<ImageResources> m_images;
    // The process's echo and the probes of its scans and diagnoses, made
    // once the window system is up; the window refers to them.
    std::optional<IcmpEchoService> m_echo;
    std::optional<RealScanProbes> m_probes;
    CMainFrame* m_pMainWnd = nullptr;
    bool m_localAddressFound = false;
    ScanSettingsRecord m_settings; // the program's one settings value
    SettingsStore m_store;
};
