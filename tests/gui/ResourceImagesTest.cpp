// The compiled-in images: each toolbar button and icon has its sizes, drawn,
// and each picture differs from the others.

#include "gui/res/ResourceImages.h"

#include <QIcon>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// Share of the pixels that are not fully transparent.
double DrawnShare(const QImage& image) {
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            drawn += qAlpha(image.pixel(x, y)) > 0;
    return image.isNull() ? 0.0 : double(drawn) / (image.width() * image.height());
}

} // namespace

TEST(ResourceImagesTest, EachImageHasItsSizesDrawnAndDiffersFromTheOthers) {
    std::vector<std::pair<QIcon, std::vector<int>>> icons = {
        {ApplicationIcon(), {16, 32, 48, 64, 128, 256}}, {DocumentIcon(), {16, 32}}};
    // The toolbar's commands: scan, save, options, search, help, exit.
    for (int command : {32771, 32773, 32779, 32791, 32793, 57665})
        icons.push_back({ToolbarImage(command), {32}});
    std::vector<QImage> seen;
    for (const auto& [icon, expectedSides] : icons) {
        SCOPED_TRACE(::testing::Message() << "image " << seen.size());
        std::vector<int> sides;
        for (const QSize& size : icon.availableSizes()) {
            EXPECT_EQ(size.width(), size.height()) << "the icons are square";
            sides.push_back(size.width());
        }
        std::sort(sides.begin(), sides.end());
        EXPECT_EQ(sides, expectedSides);
        for (int side : expectedSides) {
            const QImage image =
                icon.pixmap(QSize(side, side)).toImage().convertToFormat(QImage::Format_ARGB32);
            EXPECT_EQ(image.size(), QSize(side, side));
            EXPECT_GT(DrawnShare(image), 0.3) << side << " pixels";
            for (size_t other = 0; other < seen.size(); ++other)
                EXPECT_NE(image, seen[other]) << side << " pixels, like image " << other;
            seen.push_back(image);
        }
    }
    // Home page, about box, the bars' switches, a copy command, and no command.
    for (int command : {32774, 57664, 59392, 59393, 32786, 0, -1})
        EXPECT_TRUE(ToolbarImage(command).isNull()) << command;
}
