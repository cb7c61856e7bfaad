#include "core/commands/PackedCells.h"

#include <gtest/gtest.h>

namespace {

// Cells of every length the list can hold, empty ones and bytes that could
// be taken for separators survive packing and the change of one cell.
TEST(PackedCells, CellsComeBackAsTheyWentIn) {
    HostCells cells = {"10.0.0.1", "○", "", std::string("A\0B", 3), std::string(300, 'm'), "\xff", ""};
    const std::string packed = PackedCells::Of(cells);
    for (int column = 0; column < HostRecord::kColumnCount; ++column)
        EXPECT_EQ(PackedCells::Cell(packed, column), cells[column]) << column;
    EXPECT_EQ(PackedCells::Cell(packed, -1), "");
    EXPECT_EQ(PackedCells::Cell(packed, HostRecord::kColumnCount), "");

    const std::string changed = PackedCells::WithCell(packed, 4, "short");
    cells[4] = "short";
    EXPECT_EQ(changed, PackedCells::Of(cells));

    const std::string first = PackedCells::WithFirst("10.0.0.9");
    HostRecord only;
    only.address = 0x0A000009;
    EXPECT_EQ(first, PackedCells::Of(only));
    // A truncated row reads as empty cells, never past its end.
    EXPECT_EQ(PackedCells::Cell(std::string_view(packed).substr(0, 10), 1), "");
}

} // namespace
