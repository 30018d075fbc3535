// Reading the spectrogram's probes: what makes a layout drawable on the
// CPU, and what sends it back to the OpenGL batches.
#include "views/SpTmRaster.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

QImage Blank(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(qRgb(0, 0, 0));
    return image;
}

void Put(QImage& image, int x, int y, int index)
{
    const sptm::ProbeColour c = sptm::ProbeColourOf(index);
    image.setPixel(x, y, qRgb(c.r, c.g, c.b));
}

TEST(SpTmProbes, ColoursNumberEveryPrimitiveAndBlackIsNone)
{
    for (const int index : {0, 1, 255, 256, 65535, 65536, 1857, 4000000}) {
        const sptm::ProbeColour c = sptm::ProbeColourOf(index);
        EXPECT_EQ(sptm::ProbeIndexOf(qRgb(c.r, c.g, c.b)), index);
    }
    EXPECT_EQ(sptm::ProbeIndexOf(qRgb(0, 0, 0)), -1);
}

TEST(SpTmProbes, LinesGiveTheirColumnsAndOneRowSet)
{
    QImage probe = Blank(6, 4);
    for (int y = 1; y < 4; ++y) { // line 0 in column 4, line 2 in column 1; line 1 lights nothing
        Put(probe, 4, y, 0);
        Put(probe, 1, y, 2);
    }
    std::vector<int> columns, rows;
    ASSERT_TRUE(sptm::ReadLineProbe(probe, 3, columns, rows));
    EXPECT_EQ(columns, (std::vector<int>{4, -1, 1}));
    EXPECT_EQ(rows, (std::vector<int>{1, 2, 3}));

    // A line over two columns, or two lines over different rows, is no
    // column plus a row set.
    QImage wide = probe;
    Put(wide, 5, 2, 0);
    EXPECT_FALSE(sptm::ReadLineProbe(wide, 3, columns, rows));
    QImage shorter = probe;
    shorter.setPixel(1, 3, qRgb(0, 0, 0));
    EXPECT_FALSE(sptm::ReadLineProbe(shorter, 3, columns, rows));
    // A colour of no line drawn.
    QImage stray = probe;
    Put(stray, 0, 0, 7);
    EXPECT_FALSE(sptm::ReadLineProbe(stray, 3, columns, rows));
}

TEST(SpTmProbes, CellsAndPeakMarks)
{
    QImage probe = Blank(3, 5);
    Put(probe, 2, 0, 1858); // bins by their own numbers
    Put(probe, 2, 1, 40);
    Put(probe, 2, 3, 1);
    Put(probe, 1, 2, 99); // another column: not this band's
    const auto cells = sptm::ReadCellProbe(probe, 2);
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(cells[0].row, 0);
    EXPECT_EQ(cells[0].bin, 1858);
    EXPECT_EQ(cells[1].bin, 40);
    EXPECT_EQ(cells[2].row, 3);
    EXPECT_TRUE(sptm::ReadCellProbe(probe, 7).empty());

    // Marks of bins 5, 6, 7 in columns 0, 2 and none.
    QImage marks = Blank(3, 5);
    Put(marks, 0, 4, 5);
    Put(marks, 2, 1, 6);
    std::array<int, sptm::ShownBins> rows{};
    ASSERT_TRUE(sptm::ReadPeakProbe(marks, {0, 2, -1}, 5, 3, rows));
    EXPECT_EQ(rows[5], 4);
    EXPECT_EQ(rows[6], 1);
    EXPECT_EQ(rows[7], -1);
    Put(marks, 2, 3, 6); // a mark of two pixels
    EXPECT_FALSE(sptm::ReadPeakProbe(marks, {0, 2, -1}, 5, 3, rows));
}

} // namespace
