#include "gui/res/ResourceImages.h"

#include "core/res/Resource.h"

#include <QString>

// The macros must be used outside any namespace.
ImageResources::ImageResources() {
    Q_INIT_RESOURCE(vopal);
}

ImageResources::~ImageResources() {
    Q_CLEANUP_RESOURCE(vopal);
}

namespace {

struct ToolbarImageFile {
    int commandId;
    const char* path;
};

constexpr ToolbarImageFile kToolbarImages[] = {
    {ID_SCAN_START, ":/icons/toolbar-scan.png"},  {ID_SAVE_RESULTS, ":/icons/toolbar-save.png"},
    {ID_OPTIONS, ":/icons/toolbar-options.png"},  {ID_SEARCH, ":/icons/toolbar-search.png"},
    {ID_HELP_TOPICS, ":/icons/toolbar-help.png"}, {ID_APP_EXIT, ":/icons/toolbar-exit.png"},
};

// Files are added without a size, so the icon learns each size from its file.
QIcon IconOfSizes(const char* stem, std::initializer_list<int> sizes) {
    QIcon icon;
    for (int size : sizes) {
        icon.addFile(QStringLiteral(":/icons/%1-%2.png").arg(QLatin1String(stem)).arg(size));
    }
    return icon;
}

} // namespace

QIcon ToolbarImage(int commandId) {
    for (const ToolbarImageFile& image : kToolbarImages) {
        if (image.commandId == commandId)
            return QIcon(QString::fromLatin1(image.path));
    }
    return QIcon();
}

QIcon ApplicationIcon() {
    return IconOfSizes("vopal", {16, 32, 48, 64, 128, 256});
}

QIcon DocumentIcon() {
    return IconOfSizes("document", {16, 32});
}
