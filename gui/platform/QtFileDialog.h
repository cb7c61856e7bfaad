#pragma once
// The window's file dialogs: RunFileDialog shows a Qt file dialog.

#include <QString>
#include <string>

// Installs the handler for the whole program; call once the QApplication exists.
void InstallQtFileDialogs();

// "text|patterns|text|patterns|" as Qt's "text (p1 p2);;text (p3)".
QString QtFilterOf(const std::string& filter);
