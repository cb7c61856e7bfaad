#pragma once
// The program's images, compiled into the window library: toolbar buttons,
// the application icon and the document-type icon.

#include <QIcon>

// Resources compiled into a static library are there only once registered:
// whoever owns the application (the program, the window tests' main, the
// benchmarks) makes one before the first image is asked for and keeps it
// while images are used. Without one every image below is null.
class ImageResources {
public:
    ImageResources();
    ~ImageResources();
    ImageResources(const ImageResources&) = delete;
    ImageResources& operator=(const ImageResources&) = delete;
};

// The 32 x 32 image of a toolbar button's command; a null icon for a command
// that has no button image.
QIcon ToolbarImage(int commandId);

// The program's icon at 16, 32, 48, 64, 128 and 256 pixels.
QIcon ApplicationIcon();

// The document type's icon at 16 and 32 pixels.
QIcon DocumentIcon();
