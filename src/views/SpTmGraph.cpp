#include "views/SpTmGraph.h"

#include "state/global.h"
#include "views/SpTmForm.h"
#include "views/SpTmLabels.h"
#include "views/SpTmRaster.h"
#include "views/framepaint.h"

#include <QPainter>

#include <GL/gl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>

namespace sptm {

namespace {

// Upper edge of every bin's cell in one band, and the lower edge of bin 1's.
struct BandRows {
    float bottom;                     // y of f(0) = 3 Hz
    std::array<float, ShownBins> top; // y of f(j), j = 0..1858 (j = 0 unused)
};

void FillBandRows(const Band& band, float binWidth, BandRows& rows)
{
    rows.bottom = band.Y(FirstBinLowHz);
    for (int bin = FirstBin; bin <= LastBin; ++bin)
        rows.top[bin] = band.Y(BinHz(bin, binWidth));
}

void AddChannelCells(const Block& block, int channel, const BandRows& rows, const Look& look, BlockDrawing& out)
{
    for (int slice = 1 - SliceCount; slice <= 0; ++slice) {
        const float x = PixelX(SliceColumn(block.column, slice), look.width);
        const float* magnitudes = block.Row(channel, slice);
        float low = rows.bottom;
        for (int bin = FirstBin; bin <= LastBin; ++bin) {
            const Rgb colour = MagnitudeColor(magnitudes[bin], look.gain, look.light);
            out.cells.Add(x, low, colour);
            out.cells.Add(x, rows.top[bin], colour);
            low = rows.top[bin];
        }
    }
}

void AddChannelPeaks(const Block& block, int channel, const BandRows& rows, const Look& look, BlockDrawing& out)
{
    for (int slice = 1 - SliceCount; slice <= 0; ++slice) {
        const float* magnitudes = block.Row(channel, slice);
        const int peak = PeakBin(magnitudes);
        if (peak == 0) // nothing above silence: the mark would not show
            continue;
        const float x = PixelX(SliceColumn(block.column, slice), look.width);
        out.peaks.Add(x, rows.top[peak], MagnitudeColor(magnitudes[peak], look.gain, look.light));
    }
}

} // namespace

Rgb EraseColor(bool light)
{
    return PaletteColor(0, light);
}

Rgb CursorColor(bool light)
{
    return light ? Rgb{200, 200, 200} : Rgb{100, 100, 100};
}

ClearColor SurfaceClearColor(bool light)
{
    return light ? ClearColor{0.9f, 0.9f, 0.9f, 1.0f} : ClearColor{0.0f, 0.0f, 0.1f, 1.0f};
}

void DrawingOfBlock(const Block& block, const Look& look, BlockDrawing& out)
{
    out.erase.Clear();
    out.cells.Clear();
    out.peaks.Clear();
    out.cursor.Clear();

    const Rgb erase = EraseColor(look.light);
    for (int slice = 1 - SliceCount; slice <= 0; ++slice) {
        const float x = PixelX(SliceColumn(block.column, slice), look.width);
        out.erase.Add(x, -1, erase);
        out.erase.Add(x, 1, erase);
    }

    // The two bands never overlap (the left band starts above 0, the right
    // one ends below it), so the peak marks of both channels may follow the
    // cells of both: each mark still lies on top of its own channel's cells.
    static BandRows rows; // UI thread only; 7 KB kept off the stack
    for (int channel = 1; channel <= 2; ++channel) {
        const auto band = ChannelBand(channel, look.showLeft, look.showRight);
        if (!band)
            continue;
        FillBandRows(*band, look.binWidth, rows);
        AddChannelCells(block, channel, rows, look, out);
        AddChannelPeaks(block, channel, rows, look, out);
    }

    const float cursor = CursorX(block.column, look.width);
    out.cursor.Add(cursor, -1, CursorColor(look.light));
    out.cursor.Add(cursor, 1, CursorColor(look.light));
}

} // namespace sptm

// ---- frame ------------------------------------------------------------------------

namespace sptm {

namespace {

// A line as the window system draws it: the end point is left out.
void LineWithoutEnd(QPainter& painter, const Line& line)
{
    const int dx = (line.x1 > line.x0) - (line.x1 < line.x0);
    const int dy = (line.y1 > line.y0) - (line.y1 < line.y0);
    if (dx == 0 && dy == 0)
        return;
    painter.drawLine(line.x0, line.y0, line.x1 - dx, line.y1 - dy);
}

void DrawScale(QPainter& painter, const ScaleDrawing& scale)
{
    for (const Line& line : scale.lines)
        LineWithoutEnd(painter, line);
    DrawFrameTexts(painter, scale.texts);
}

// The bar of all levels on the right strip, level 0 at the bottom row, with
// ticks at the rows where the magnitude is 0.1 .. 0.9 of the top colour's.
void DrawColourLegend(QPainter& painter, const PlotRect& plot, const FrameLook& look)
{
    const int left = plot.right + 1;
    const int right = plot.right + 25;
    painter.fillRect(QRect(plot.right, 0, 25, plot.bottom + 25), QColor(200, 200, 200));
    for (int k = 0; k <= plot.bottom; ++k) {
        const Rgb c = PaletteColor(LegendLevel(k, plot.bottom), look.light);
        painter.setPen(QPen(QColor(c.r, c.g, c.b), 0));
        LineWithoutEnd(painter, {left, plot.bottom - k, right, plot.bottom - k});
    }
    BeginFrameText(painter);
    for (int tick = 1; tick <= 9; ++tick) {
        const int y = LegendTickRow(tick, plot.bottom);
        LineWithoutEnd(painter, {left, y, right, y});
        DrawFrameText(painter, {plot.right + 7, y - 12, LegendLabel(tick, look.locale)});
    }
}

} // namespace

void PaintFrame(QImage& canvas, const PlotRect& plot, const FrameLook& look)
{
    QPainter painter(&canvas);
    ClearFrameCanvas(painter, look.background);
    DrawShading(painter, ShadingLines(plot, Shading()));
    painter.setFont(look.font);
    BeginFrameText(painter);
    DrawScale(painter, FrequencyScale(plot, look.showLeft && look.showRight, look.outerHeight));
    DrawScale(painter, TimeScale(plot));
    DrawColourLegend(painter, plot, look);
    painter.end();
    SetFrameMarker(canvas);
}

} // namespace sptm

// ---- rendering -------------------------------------------------------------------------

namespace {

// UI thread only.
std::unique_ptr<sptm::Block[]> takenBlocks;
sptm::BlockDrawing drawing;

// The state the block batches draw with.
void SetBatchState()
{
    glDisable(GL_LINE_STIPPLE);
    glLineWidth(1.0f);
    glPointSize(1.0f);
}

// One batch from vertex and colour arrays; the client states are on.
void DrawVertices(GLenum mode, const sptm::Vertices& vertices)
{
    glVertexPointer(2, GL_FLOAT, 0, vertices.xy.data());
    glColorPointer(3, GL_UNSIGNED_BYTE, 0, vertices.rgb.data());
    glDrawArrays(mode, 0, vertices.Count());
}

// The panel reads back only the columns a render touched.
void MarkColumns(TPlotSurface* panel, const sptm::Vertices& vertices)
{
    float left = 2.0f, right = -2.0f;
    for (size_t i = 0; i < vertices.xy.size(); i += 2) {
        left = std::min(left, vertices.xy[i]);
        right = std::max(right, vertices.xy[i]);
    }
    panel->MarkChanged(left, right);
}

void DrawBatch(TPlotSurface* panel, GLenum mode, const sptm::Vertices& vertices)
{
    if (vertices.Count() == 0)
        return;
    MarkColumns(panel, vertices);
    DrawVertices(mode, vertices);
}

// Inside the plot panel's render bracket: erase lines, cells, peak marks
// and cursor of each block, oldest first.
void DrawBlocks(TPlotSurface* panel, int width)
{
    if (!takenBlocks)
        takenBlocks.reset(new sptm::Block[sptm::KeptBlocks]);
    const int count = sptm::TakeBlocks(width, takenBlocks.get());
    if (count == 0)
        return;

    const sptm::Look look{width, ShowLeft, ShowRight, KaSpTm, LightBackground, BinWidth};
    SetBatchState();
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    for (int i = 0; i < count; ++i) {
        sptm::DrawingOfBlock(takenBlocks[i], look, drawing);
        DrawBatch(panel, GL_LINES, drawing.erase);
        DrawBatch(panel, GL_LINES, drawing.cells);
        DrawBatch(panel, GL_POINTS, drawing.peaks);
        DrawBatch(panel, GL_LINES, drawing.cursor);
    }
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

// ---- the same pixels on the CPU ----

// Probe primitives: vertices and one probe colour per primitive, drawn as
// the block batches are (vertex and colour arrays).
struct ProbeBatch {
    sptm::Vertices vertices;
    void Add(float x, float y, int index)
    {
        const sptm::ProbeColour c = sptm::ProbeColourOf(index);
        vertices.Add(x, y, sptm::Rgb{c.r, c.g, c.b});
    }
    void Draw(GLenum mode) const
    {
        SetBatchState();
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        DrawVertices(mode, vertices);
        glDisableClientState(GL_COLOR_ARRAY);
        glDisableClientState(GL_VERTEX_ARRAY);
    }
};

// Full-height lines at `xs`, line k in the probe colour of k.
QImage ProbeLines(TPlotSurface* panel, const std::vector<float>& xs)
{
    ProbeBatch batch;
    for (size_t k = 0; k < xs.size(); ++k) {
        batch.Add(xs[k], -1, static_cast<int>(k));
        batch.Add(xs[k], 1, static_cast<int>(k));
    }
    return panel->Probe(panel->DeviceSize(), [&] { batch.Draw(GL_LINES); });
}

bool LearnColumns(TPlotSurface* panel, int width, sptm::RasterPlan& plan)
{
    std::vector<float> xs(static_cast<size_t>(width));
    for (int p = 0; p < width; ++p)
        xs[static_cast<size_t>(p)] = sptm::PixelX(p, width);
    const QImage slices = ProbeLines(panel, xs);
    if (slices.isNull() || !sptm::ReadLineProbe(slices, width, plan.sliceColumn, plan.lineRows))
        return false;

    // A point at a line's x need not land in the line's column: at two
    // device pixels per pixel both sit on a boundary between two columns.
    ProbeBatch points;
    for (int p = 0; p < width; ++p)
        points.Add(sptm::PixelX(p, width), 0.01f, p);
    std::vector<int> pointRows;
    const QImage marks = panel->Probe(panel->DeviceSize(), [&] { points.Draw(GL_POINTS); });
    if (marks.isNull() || !sptm::ReadLineProbe(marks, width, plan.peakColumn, pointRows))
        return false;

    xs.resize(static_cast<size_t>(width / sptm::SlicesPerColumnBlock + 2));
    for (size_t c = 0; c < xs.size(); ++c)
        xs[c] = sptm::CursorX(static_cast<int32_t>(c), width);
    std::vector<int> cursorRows;
    const QImage cursors = ProbeLines(panel, xs);
    return !cursors.isNull() &&
           sptm::ReadLineProbe(cursors, static_cast<int>(xs.size()), plan.cursorColumn, cursorRows) &&
           (cursorRows.empty() || cursorRows == plan.lineRows);
}

// The cells of one band at logical column `p`, and its peak marks, `width`
// at a time, at columns 0 .. width - 1.
bool LearnBand(TPlotSurface* panel, const sptm::Band& band, const sptm::Look& look, int p, int channel,
               sptm::RasterPlan& plan)
{
    static sptm::BandRows rows; // UI thread only
    sptm::FillBandRows(band, look.binWidth, rows);
    ProbeBatch cells;
    const float x = sptm::PixelX(p, look.width);
    float low = rows.bottom;
    for (int bin = sptm::FirstBin; bin <= sptm::LastBin; ++bin) {
        cells.Add(x, low, bin);
        cells.Add(x, rows.top[bin], bin);
        low = rows.top[bin];
    }
    const QImage cellProbe = panel->Probe(panel->DeviceSize(), [&] { cells.Draw(GL_LINES); });
    if (cellProbe.isNull())
        return false;
    plan.cells[channel - 1] = sptm::ReadCellProbe(cellProbe, plan.sliceColumn[static_cast<size_t>(p)]);

    for (int first = sptm::FirstBin; first <= sptm::LastBin; first += look.width) {
        const int count = std::min(look.width, sptm::LastBin - first + 1);
        ProbeBatch peaks;
        for (int k = 0; k < count; ++k)
            peaks.Add(sptm::PixelX(k, look.width), rows.top[first + k], first + k);
        const QImage peakProbe = panel->Probe(panel->DeviceSize(), [&] { peaks.Draw(GL_POINTS); });
        if (peakProbe.isNull() ||
            !sptm::ReadPeakProbe(peakProbe, plan.peakColumn, first, count, plan.peakRow[channel - 1]))
            return false;
    }
    return true;
}

std::optional<sptm::RasterPlan> LearnPlan(TPlotSurface* panel, const sptm::Look& look)
{
    sptm::RasterPlan plan;
    plan.logicalWidth = look.width;
    plan.deviceSize = panel->DeviceSize();
    plan.showLeft = look.showLeft;
    plan.showRight = look.showRight;
    plan.binWidth = look.binWidth;
    if (!LearnColumns(panel, look.width, plan))
        return std::nullopt;
    const auto lit = std::find_if(plan.sliceColumn.begin(), plan.sliceColumn.end(), [](int c) { return c >= 0; });
    if (lit == plan.sliceColumn.end())
        return std::nullopt;
    const int p = static_cast<int>(lit - plan.sliceColumn.begin());
    for (int channel = 1; channel <= 2; ++channel) {
        const auto band = sptm::ChannelBand(channel, look.showLeft, look.showRight);
        if (band && !LearnBand(panel, *band, look, p, channel, plan))
            return std::nullopt;
    }
    return plan;
}

// Inside the plot panel's render: the blocks written straight into its
// picture. A layout whose pixels the probes cannot tell falls back to the
// OpenGL batches from the next paint on; the blocks wait for it.
void DrawBlocksOnCpu(TPlotSurface* panel, int width)
{
    static sptm::RasterPlan plan; // UI thread only
    const sptm::Look look{width, ShowLeft, ShowRight, KaSpTm, LightBackground, BinWidth};
    if (!plan.Fits(look, panel->DeviceSize())) {
        std::optional<sptm::RasterPlan> learnt = LearnPlan(panel, look);
        if (!learnt) {
            std::fprintf(stderr, "Sonalyx: the spectrogram's pixels could not be learnt; drawing it with OpenGL\n");
            panel->SetCpuDrawing(false);
            panel->RequestRender();
            return;
        }
        plan = std::move(*learnt);
    }
    if (!takenBlocks)
        takenBlocks.reset(new sptm::Block[sptm::KeptBlocks]);
    const int count = sptm::TakeBlocks(width, takenBlocks.get());
    const sptm::ColumnSpan written = sptm::RasterBlocks(takenBlocks.get(), count, look, plan, panel->Picture());
    if (!written.Empty())
        panel->MarkChangedColumns(written.first, written.last);
}

} // namespace

void RenderSpTm()
{
    TFormSpTm* form = FormSpTm;
    if (!form)
        return;
    TPlotSurface* panel = form->PanelSpTm;
    if (!panel->Rendering()) { // outside a paint: ask for one
        panel->RequestRender();
        return;
    }
    SpTmFreqScale = sptm::FreqScale(ShowLeft, ShowRight);
    if (panel->width() <= 0)
        return;
    if (panel->CpuDrawing())
        DrawBlocksOnCpu(panel, panel->width());
    else
        DrawBlocks(panel, panel->width());
}

void ClearSpTm()
{
    if (!FormSpTm)
        return;
    FormSpTm->PanelSpTm->ClearSurface();
}

void DrawSpTmFrame()
{
    if (FormSpTm)
        FormSpTm->DrawSpTmFrame();
}

void SpTmColor(float magnitude)
{
    const sptm::Rgb c = sptm::MagnitudeColor(magnitude, KaSpTm, LightBackground);
    glColor3ub(c.r, c.g, c.b);
}
