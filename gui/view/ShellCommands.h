#pragma once
// The view's commands that hand work to other programs and do not wait for
// them: the name-table batch in a terminal window, the help file in the
// desktop's viewer and the home page in the browser.

#include "gui/platform/QtShellOpen.h"
#include "platform/win32/ShellOpen.h"

#include <QStringList>
#include <functional>
#include <string>

class ResultList;

// Starts a program without waiting for it; true when it started. Tests pass
// one that records the call.
using DetachedStarter = std::function<bool(const QString& program, const QStringList& arguments)>;

// The real starter: QProcess::startDetached.
bool StartDetached(const QString& program, const QStringList& arguments);

// Net command: writes the name-table batch for the address in column 0 of
// `row` into the program directory (`programDirectory`, ending with '/') and
// runs it with sh in a terminal. A row that does not exist does nothing; a
// cell that is not an address, or a file that cannot be written, is told in a
// box and nothing runs. `start` starts the terminal.
void RunNetCommand(ResultList& list, int row, const std::string& programDirectory,
                   const DetachedStarter& start = StartDetached);

// Help: opens the program's help file with `open` (the desktop's viewer).
void OpenHelpFile(const ShellOpenHandler& open = DesktopOpen);

// Home page: opens the product's home page with `open` (the desktop's browser).
void OpenHomePage(const ShellOpenHandler& open = DesktopOpen);
