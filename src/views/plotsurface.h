// What the three live views share:
//
// - TPlotSurface, the OpenGL plot panel of a view: a framebuffer of its own
//   in one compatibility-profile context shared by the panels, immediate
//   mode, every vertex in normalised device coordinates with no projection. Each paint runs inside the render bracket
//   (context current, viewport on the whole panel, cleared with the scheme's clear colour unless the surface keeps its
//   content between paints).
// - The grid and trace conventions of the line plots (dashed grids, solid
//   traces, left channel before right) and the plot colour table.
// - The frame conventions, painted with QPainter on the form's retained
//   canvas: bevel shading, texts placed by their top-left corner, the channel
//   legend and the marker pixel (0, 0).
// - TScalePanel, the floating scale panel of a view with its close button,
//   and the drag that moves it (5-pixel dead zone, anchor kept).
//
// Everything here runs on the UI thread except TPlotSurface::Invalidate.
#pragma once

#include "analysis/plotgeometry.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFont>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QPainter>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The plot panel covers the plot rectangle exactly.
QRect PlotPanelRect(const PlotRect& plot);

// ---- frame painting on a form canvas --------------------------------------

// The frame font: `family` at `pixelHeight` pixels. Tahoma and MS Sans Serif
// are looked up first among the installed fonts, then among the
// metric-compatible copies of the Wine font package; a plain sans font
// stands in when neither has them.
QFont FrameFont(const QString& family, int pixelHeight);

// Paints the canvas background, ready for a new frame.
void ClearFrameCanvas(QPainter& painter, const QColor& background);
void DrawShading(QPainter& painter, const std::vector<ShadeLine>& lines);
// Brush clear, text and pen black.
void BeginFrameText(QPainter& painter);
void DrawFrameText(QPainter& painter, const FrameText& text);
void DrawFrameTexts(QPainter& painter, const std::vector<FrameText>& texts);
// Grey underlay, coloured swatches in table entries 3 and 4, the two texts.
void DrawChannelLegend(QPainter& painter, const PlotRect& plot);
// The last step of every frame: canvas pixel (0, 0) black.
void SetFrameMarker(QImage& canvas);

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

// ---- floating scale panels --------------------------------------------------

// A raised panel with bevel width 2 on a view's plot panel, hidden at start,
// with the small close button BtnClose. Mouse presses, moves and releases on
// the panel itself are passed on as signals: the view connects them to its
// own handlers, which call ScalePanelMouseDown/Move/Up.
class TScalePanel : public QFrame {
    Q_OBJECT
public:
    TScalePanel(QWidget* plotPanel, const QRect& geometry, const QPoint& closeButtonAt);

    QAbstractButton* BtnClose = nullptr;

    // Shows the panel at (5, 5) of the plot panel.
    void ShowAtHome();

signals:
    void MouseDown(Qt::MouseButton button, QPoint position);
    void MouseMove(QPoint position);
    void MouseUp(Qt::MouseButton button, QPoint position);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The drag shared by the three scale panels, on DragActive, DragX, DragY.
// Down: the left button starts a drag anchored at `position` (panel
// coordinates), any other button ends one. Move: beyond the dead zone the
// panel moves by the full offset; the anchor stays. Up: the drag ends.
void ScalePanelMouseDown(Qt::MouseButton button, QPoint position);
void ScalePanelMouseMove(QWidget* panel, QPoint position);
void ScalePanelMouseUp();

// Controls of the scale panels, placed at fixed geometry in panel pixels;
// fonts are Tahoma at `pixelHeight`. Track bars run from min at the left or
// top to max at the right or bottom, with a tick at every stop; `hint` is
// their tool tip.
class QLabel;
class QSlider;
QLabel* PanelLabel(QWidget* parent, const QString& text, const QRect& geometry, int pixelHeight, bool wrap = false);
QSlider* PanelTrackBar(QWidget* parent, Qt::Orientation orientation, int min, int max, int position,
                       const QRect& geometry, const QString& hint = {});

// The small label of values under the pointer, on top of a plot panel: the
// panel's own picture stays as it is, and the pointer's moves still reach
// the panel through it.
class TReadoutLabel : public QLabel {
    Q_OBJECT
public:
    explicit TReadoutLabel(QWidget* plotPanel);
    // Shows `text` beside `pointer` (panel pixels), inside the panel.
    void ShowAt(QPoint pointer, const QString& text);
};

// NDC of the centre of pixel `pixel` along a side `length` pixels long (x
// left to right, y bottom to top), as the panel's drawing counts them.
double PixelCentreNdcX(int pixel, int length);
double PixelCentreNdcY(int pixel, int length);

// A check box whose text wraps inside its fixed width.
class TWrapCheckBox : public QCheckBox {
    Q_OBJECT
public:
    TWrapCheckBox(const QString& text, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& position) const override;
};
