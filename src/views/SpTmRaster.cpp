#include "views/SpTmRaster.h"

#include "analysis/SpTmMap.h"

#include <algorithm>

namespace sptm {

bool RasterPlan::Fits(const Look& look, QSize device) const
{
    return logicalWidth == look.width && deviceSize == device && showLeft == look.showLeft &&
           showRight == look.showRight && binWidth == look.binWidth;
}

ProbeColour ProbeColourOf(int index)
{
    const uint32_t id = static_cast<uint32_t>(index) + 1;
    return {static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
}

int ProbeIndexOf(QRgb pixel)
{
    const int id = (qRed(pixel) << 16) | (qGreen(pixel) << 8) | qBlue(pixel);
    return id - 1;
}

namespace {
const QRgb* Row(const QImage& image, int y)
{
    return reinterpret_cast<const QRgb*>(image.constScanLine(y));
}
} // namespace

bool ReadLineProbe(const QImage& probe, int count, std::vector<int>& columns, std::vector<int>& rows)
{
    columns.assign(static_cast<size_t>(count), -1);
    // The rows lit in each column, gathered column by column.
    std::vector<std::vector<int>> rowsOf(static_cast<size_t>(probe.width()));
    for (int y = 0; y < probe.height(); ++y) {
        const QRgb* line = Row(probe, y);
        for (int x = 0; x < probe.width(); ++x) {
            const int index = ProbeIndexOf(line[x]);
            if (index < 0)
                continue;
            if (index >= count)
                return false;
            int& column = columns[static_cast<size_t>(index)];
            if (column >= 0 && column != x)
                return false;
            column = x;
            rowsOf[static_cast<size_t>(x)].push_back(y);
        }
    }
    rows.clear();
    bool first = true;
    for (const int column : columns) {
        if (column < 0)
            continue;
        if (first)
            rows = rowsOf[static_cast<size_t>(column)];
        else if (rowsOf[static_cast<size_t>(column)] != rows)
            return false;
        first = false;
    }
    return true;
}

std::vector<RasterPlan::CellRow> ReadCellProbe(const QImage& probe, int column)
{
    std::vector<RasterPlan::CellRow> cells;
    if (column < 0 || column >= probe.width())
        return cells;
    for (int y = 0; y < probe.height(); ++y) {
        const int bin = ProbeIndexOf(Row(probe, y)[column]);
        if (bin >= FirstBin && bin <= LastBin)
            cells.push_back({y, bin});
    }
    return cells;
}

bool ReadPeakProbe(const QImage& probe, const std::vector<int>& columns, int first, int count,
                   std::array<int, ShownBins>& rows)
{
    for (int k = 0; k < count; ++k) {
        const int bin = first + k;
        rows[static_cast<size_t>(bin)] = -1;
        const int column = columns[static_cast<size_t>(k)];
        if (column < 0 || column >= probe.width())
            continue;
        for (int y = 0; y < probe.height(); ++y) {
            if (ProbeIndexOf(Row(probe, y)[column]) != bin)
                continue;
            if (rows[static_cast<size_t>(bin)] >= 0)
                return false;
            rows[static_cast<size_t>(bin)] = y;
        }
    }
    return true;
}

namespace {

QRgb Pixel(Rgb c)
{
    return qRgb(c.r, c.g, c.b);
}

// Writes pixels of one device column; rows outside the picture are left out.
// A column inside the picture joins `span`.
class Column {
public:
    Column(QImage& picture, int x, ColumnSpan& span) : picture(picture), x(x)
    {
        if (Inside()) {
            span.first = std::min(span.first, x);
            span.last = std::max(span.last, x);
        }
    }
    bool Inside() const { return x >= 0 && x < picture.width(); }
    void Set(int row, QRgb pixel)
    {
        if (row >= 0 && row < picture.height())
            reinterpret_cast<QRgb*>(picture.scanLine(row))[x] = pixel;
    }

private:
    QImage& picture;
    int x;
};

int DeviceColumn(const std::vector<int>& columns, int64_t index)
{
    if (index < 0 || index >= static_cast<int64_t>(columns.size()))
        return -1;
    return columns[static_cast<size_t>(index)];
}

void RasterSlice(const Block& block, int slice, const Look& look, const RasterPlan& plan, QImage& picture,
                 ColumnSpan& span)
{
    Column column(picture, DeviceColumn(plan.sliceColumn, SliceColumn(block.column, slice)), span);
    if (!column.Inside())
        return;
    const QRgb erase = Pixel(EraseColor(look.light));
    for (const int row : plan.lineRows)
        column.Set(row, erase);
    for (int channel = 1; channel <= 2; ++channel) {
        const float* magnitudes = block.Row(channel, slice);
        for (const RasterPlan::CellRow& cell : plan.cells[channel - 1])
            column.Set(cell.row, Pixel(MagnitudeColor(magnitudes[cell.bin], look.gain, look.light)));
    }
}

void RasterPeaks(const Block& block, int channel, const Look& look, const RasterPlan& plan, QImage& picture,
                 ColumnSpan& span)
{
    for (int slice = 1 - SliceCount; slice <= 0; ++slice) {
        const float* magnitudes = block.Row(channel, slice);
        const int peak = PeakBin(magnitudes);
        if (peak == 0)
            continue;
        Column column(picture, DeviceColumn(plan.peakColumn, SliceColumn(block.column, slice)), span);
        if (column.Inside())
            column.Set(plan.peakRow[channel - 1][static_cast<size_t>(peak)],
                       Pixel(MagnitudeColor(magnitudes[peak], look.gain, look.light)));
    }
}

void RasterCursor(const Block& block, const Look& look, const RasterPlan& plan, QImage& picture, ColumnSpan& span)
{
    Column column(picture, DeviceColumn(plan.cursorColumn, block.column), span);
    if (!column.Inside())
        return;
    const QRgb cursor = Pixel(CursorColor(look.light));
    for (const int row : plan.lineRows)
        column.Set(row, cursor);
}

} // namespace

ColumnSpan RasterBlocks(const Block* blocks, int count, const Look& look, const RasterPlan& plan, QImage& picture)
{
    ColumnSpan span;
    for (int i = 0; i < count; ++i) {
        const Block& block = blocks[i];
        for (int slice = 1 - SliceCount; slice <= 0; ++slice)
            RasterSlice(block, slice, look, plan, picture, span);
        for (int channel = 1; channel <= 2; ++channel)
            if (ChannelBand(channel, look.showLeft, look.showRight))
                RasterPeaks(block, channel, look, plan, picture, span);
        RasterCursor(block, look, plan, picture, span);
    }
    return span;
}

} // namespace sptm
