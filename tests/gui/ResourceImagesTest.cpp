// The compiled-in images: every toolbar button has its 32 x 32 image, the
// icons have all their sizes, and each picture is a picture of its own.

#include "res/ResourceImages.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// The toolbar's commands: scan, save, options, search, help, exit.
const int kToolbarCommands[] = {32771, 32773, 32779, 32791, 32793, 57665};

QImage ImageAt(const QIcon& icon, int size) {
    return icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
}

// Share of the pixels that are not fully transparent.
double DrawnShare(const QImage& image) {
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            drawn += qAlpha(image.pixel(x, y)) > 0;
    return image.isNull() ? 0.0 : double(drawn) / (image.width() * image.height());
}

std::vector<int> SidesOf(const QIcon& icon) {
    std::vector<int> sides;
    for (const QSize& size : icon.availableSizes()) {
        EXPECT_EQ(size.width(), size.height()) << "the icons are square";
        sides.push_back(size.width());
    }
    std::sort(sides.begin(), sides.end());
    return sides;
}

void ExpectDrawnAtEachSize(const QIcon& icon) {
    for (int side : SidesOf(icon)) {
        const QImage image = ImageAt(icon, side);
        EXPECT_EQ(image.size(), QSize(side, side));
        EXPECT_GT(DrawnShare(image), 0.3) << side << " pixels";
    }
}

} // namespace

TEST(ResourceImagesTest, EveryToolbarCommandHasA32PixelImage) {
    for (int command : kToolbarCommands) {
        SCOPED_TRACE(command);
        const QIcon icon = ToolbarImage(command);
        ASSERT_FALSE(icon.isNull());
        EXPECT_EQ(SidesOf(icon), std::vector<int>{32});
        const QImage image = ImageAt(icon, 32);
        EXPECT_EQ(image.size(), QSize(32, 32));
        EXPECT_GT(DrawnShare(image), 0.3);
    }
}

TEST(ResourceImagesTest, ToolbarImagesDifferFromEachOther) {
    std::vector<QImage> images;
    for (int command : kToolbarCommands)
        images.push_back(ImageAt(ToolbarImage(command), 32));
    for (size_t a = 0; a < images.size(); ++a)
        for (size_t b = a + 1; b < images.size(); ++b)
            EXPECT_NE(images[a], images[b])
                << kToolbarCommands[a] << " and " << kToolbarCommands[b] << " look alike";
}

TEST(ResourceImagesTest, CommandsWithoutAButtonHaveNoImage) {
    // Home page, about box, the bars' switches, a copy command, and no command.
    for (int command : {32774, 57664, 59392, 59393, 32786, 0, -1}) {
        SCOPED_TRACE(command);
        EXPECT_TRUE(ToolbarImage(command).isNull());
    }
}

TEST(ResourceImagesTest, ApplicationIconHasItsSizes) {
    const QIcon icon = ApplicationIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(SidesOf(icon), (std::vector<int>{16, 32, 48, 64, 128, 256}));
    ExpectDrawnAtEachSize(icon);
}

TEST(ResourceImagesTest, DocumentIconHasItsSizes) {
    const QIcon icon = DocumentIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(SidesOf(icon), (std::vector<int>{16, 32}));
    ExpectDrawnAtEachSize(icon);
}

TEST(ResourceImagesTest, DocumentIconIsNotTheApplicationIcon) {
    for (int side : {16, 32})
        EXPECT_NE(ImageAt(DocumentIcon(), side), ImageAt(ApplicationIcon(), side)) << side;
}
