#pragma once
// Saving a list to a file the user picks: the save dialog (overwrite
// prompt), then the writer, then a box naming what went wrong. A cancelled
// dialog writes nothing.

#include "platform/os/AtomicFile.h"

#include <functional>
#include <string>

class QWidget;

void SaveThroughDialog(QWidget* owner, const char* defaultExtension, const char* filter,
                       const std::function<AtomicWriteResult(const std::string& path)>& write);
