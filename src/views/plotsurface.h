// The OpenGL side of the three live views:
//
// - TPlotSurface, the OpenGL plot panel of a view: a framebuffer of its own
//   in one compatibility-profile context shared by the panels, immediate
//   mode, every vertex in normalised device coordinates with no projection. Each paint runs inside the render bracket
//   (context current, viewport on the whole panel, cleared with the scheme's clear colour unless the surface keeps its
//   content between paints).
// - The grid and trace conventions of the line plots (dashed grids, solid
//   traces, left channel before right) and the plot colour table.
//
// Everything here runs on the UI thread except TPlotSurface::Invalidate.
#pragma once

#include "analysis/plotgeometry.h"

#include <QElapsedTimer>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QRect>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// The plot panel covers the plot rectangle exactly.
QRect PlotPanelRect(const PlotRect& plot);

// ---- OpenGL drawing inside a render bracket --------------------------------

namespace plotgl {
// glColor3ub with a colour-table entry.
void Color(int entry);
// Stipple on, width 0.1, pattern 0x0FFF.
void BeginGrid();
// Width LineWidth, solid (stippling off).
void BeginTraces();
// One GL_LINES batch (pairs of vertices) in one colour-table entry.
void Lines(const std::vector<PlotVertex>& vertices, int entry);
// One GL_LINE_STRIP in one colour-table entry.
void LineStrip(const std::vector<PlotVertex>& vertices, int entry);
// The same in the entry's colour halfway to the scheme's clear colour: a
// second trace of a channel that stays behind its first.
void DimLineStrip(const std::vector<PlotVertex>& vertices, int entry);
} // namespace plotgl

// ---- the plot panel ---------------------------------------------------------

// The shared OpenGL context renders into a framebuffer object of the panel's; each paint
// reads the rendered pixels back and shows them as an image in an ordinary
// widget. A QOpenGLWidget would turn the whole top-level window into a
// composited OpenGL window, and under a software renderer that composition
// of every window on every repaint cost several times the drawing itself.
// The read-back shows only what the paint changed and leaves the rest of the
// window's backing store alone.
class TPlotSurface : public QWidget {
    Q_OBJECT
public:
    // `name` labels the paint statistics.
    explicit TPlotSurface(const QString& name, QWidget* parent = nullptr);
    ~TPlotSurface() override;

    // The drawing of one paint; runs inside the render bracket.
    std::function<void()> OnRender;

    // Keep the content between paints: no clear before OnRender, so each
    // paint draws on top of the last. For the single-buffered spectrogram.
    // Off by default. A new or resized framebuffer has no content to keep:
    // it starts cleared.
    void SetKeepContent(bool keep);
    bool KeepContent() const { return keepContent; }

    // A kept surface reads back only the columns a render reports here, as
    // the span between two x in normalised device coordinates; a render
    // that reports none changed nothing. Only inside OnRender.
    void MarkChanged(float ndcLeft, float ndcRight);
    // The same in CPU drawing, as device pixel columns first .. last.
    void MarkChangedColumns(int first, int last);

    // Clears the surface now with the scheme's clear colour (bracket steps 1,
    // 2, 3, 6) and requests a paint. UI thread.
    void ClearSurface();

    // CPU drawing: OnRender paints straight into Picture(), and no
    // framebuffer is kept; a new size starts with the clear colour as the
    // framebuffer does. For a view that computes exactly the pixels its
    // OpenGL drawing would give (learnt with Probe). Switching either way
    // starts the surface clear. Off by default.
    void SetCpuDrawing(bool on);
    bool CpuDrawing() const { return cpuDrawing; }
    // The picture shown, at the device size. Inside OnRender in CPU drawing.
    QImage& Picture() { return picture; }

    // Draws `draw` into a scratch framebuffer of `size` device pixels,
    // cleared to black first, with the viewport on all of it, and returns
    // the pixels, top row first. Null without OpenGL. UI thread, not inside
    // OnRender of an OpenGL-drawn surface.
    QImage Probe(QSize size, const std::function<void()>& draw);

    // The view's name, as given: "Waveform", "Spectrum", "Spectrogram".
    const QString& Name() const { return name; }

    // The size of the framebuffer or picture: the panel in device pixels.
    QSize DeviceSize() const;

    // Requests a paint; from any thread (queued to the UI thread). A kept
    // surface renders at once instead and asks to show only the columns
    // that changed: the rest of the window already shows them.
    void Invalidate();
    // Requests a paint that renders; UI thread. A paint that only shows
    // again what is uncovered (a label or a window moved away) copies the
    // picture without rendering.
    void RequestRender();

    // Renders now (OnRender runs, as for a paint) and returns the picture.
    // Null when no OpenGL context could be made.
    QImage grabFramebuffer();

    // True once the surface has a picture to show: the context and
    // framebuffer are made, or the CPU picture (at the first paint).
    bool isValid() const { return cpuDrawing ? !picture.isNull() : framebuffer != nullptr; }

    // True while OnRender runs.
    bool Rendering() const { return rendering; }

    // Paint durations (ms), recorded only when SONALYX_PAINT_STATS is set in
    // the environment; each is also written to stderr as
    // "paint <name> <ms> ms" for the measurement script.
    const std::vector<double>& PaintTimes() const { return paintTimes; }

signals:
    void DblClick();
    // The pointer moved over the panel (panel pixels) or left it; the
    // panel tracks the pointer without a button pressed.
    void Hovered(QPoint position);
    void HoverLeft();
    // A render finished: what the panel shows is new.
    void Rendered();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Context and framebuffer current, both made on first use and the
    // framebuffer again at a new size (cleared then). False without OpenGL.
    bool MakeCurrent();
    void DoneCurrent();
    // The context shared by all panels made (on first use) and current.
    bool MakeContextCurrent();
    // The CPU picture at the device size; a new one is filled with the
    // scheme's clear colour.
    void EnsurePicture();
    // The scheme's clear colour as the framebuffer stores it.
    QRgb ClearPixel();
    void RenderOnCpu();
    // The render bracket around OnRender, then the pixels into `picture`.
    void Render();
    void RenderPicture();
    // The pixel columns to read back: all of them, unless the content is
    // kept; then those marked since the last read-back. Empty: none.
    std::pair<int, int> ColumnsToRead() const;
    void ReadBack(int firstColumn, int lastColumn);
    // Invalidate's work on the UI thread.
    void RenderAhead();
    // Copies the picture straight into the backing store under `region`
    // (widget pixels). False when the painter's device is not a plain
    // 32-bit image: the picture is then drawn as an image.
    bool CopyIntoBackingStore(QPainter& painter, const QRegion& region);
    // Bracket step 2, and step 3 unless the content is kept.
    void OpenBracket(bool clear);

    QString name;
    bool keepContent = false;
    bool rendering = false;
    bool recordTimes = false;
    bool cpuDrawing = false;
    struct StoredClear {
        bool light;
        QRgb pixel;
    };
    std::vector<StoredClear> clearPixels;           // learnt per scheme
    bool readAll = true;                            // the next read-back takes every column
    float changedLeft = 2.0f, changedRight = -2.0f; // marked span, empty when left > right
    std::pair<int, int> changedColumns{0, -1};      // marked in CPU drawing, device columns
    std::pair<int, int> renderedColumns{0, -1};     // what the last render changed, device columns
    bool renderPending = true;                      // the next paint renders
    std::vector<double> paintTimes;
    std::unique_ptr<QOpenGLFramebufferObject> framebuffer;
    std::vector<uint32_t> rows; // read-back scratch, bottom row first
    QImage picture;
};

// NDC of the centre of pixel `pixel` along a side `length` pixels long (x
// left to right, y bottom to top), as the panel's drawing counts them.
double PixelCentreNdcX(int pixel, int length);
double PixelCentreNdcY(int pixel, int length);
