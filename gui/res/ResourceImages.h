#pragma once
// The program's images, compiled into the window library: toolbar buttons,
// the application icon and the document-type icon.

#include <QIcon>

// The 32 x 32 image of a toolbar button's command; a null icon for a command
// that has no button image.
QIcon ToolbarImage(int commandId);

// The program's icon at 16, 32, 48, 64, 128 and 256 pixels.
QIcon ApplicationIcon();

// The document type's icon at 16 and 32 pixels.
QIcon DocumentIcon();
