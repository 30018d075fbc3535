#include "views/plotsurface.h"

#include "state/global.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QSurfaceFormat>
#include <QTransform>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

QRect PlotPanelRect(const PlotRect& plot)
{
    return QRect(plot.left, plot.top, plot.right - plot.left + 1, plot.bottom - plot.top + 1);
}

// ---- OpenGL drawing ---------------------------------------------------------------

namespace plotgl {

void Color(int entry)
{
    glColor3ub(SchemeR[entry], SchemeG[entry], SchemeB[entry]);
}

void BeginGrid()
{
    glEnable(GL_LINE_STIPPLE);
    glLineWidth(0.1f);
    glLineStipple(1, GridStipple);
}

void BeginTraces()
{
    glLineWidth(LineWidth);
    // A solid pattern with stippling on draws the same pixels, but Mesa's
    // software renderer then splits every trace segment on the CPU, which
    // cost more than the rest of the paint.
    glDisable(GL_LINE_STIPPLE);
}

void Lines(const std::vector<PlotVertex>& vertices, int entry)
{
    Color(entry);
    glBegin(GL_LINES);
    for (const PlotVertex& v : vertices)
        glVertex2f(v.x, v.y);
    glEnd();
}

void LineStrip(const std::vector<PlotVertex>& vertices, int entry)
{
    Color(entry);
    glBegin(GL_LINE_STRIP);
    for (const PlotVertex& v : vertices)
        glVertex2f(v.x, v.y);
    glEnd();
}

void DimLineStrip(const std::vector<PlotVertex>& vertices, int entry)
{
    const PlotRgba clear = SchemeClearColor(LightBackground);
    const auto halfway = [](uint8_t channel, float clearChannel) {
        return static_cast<GLubyte>(std::lround((channel + clearChannel * 255.0f) / 2.0f));
    };
    glColor3ub(halfway(SchemeR[entry], clear.r), halfway(SchemeG[entry], clear.g), halfway(SchemeB[entry], clear.b));
    glBegin(GL_LINE_STRIP);
    for (const PlotVertex& v : vertices)
        glVertex2f(v.x, v.y);
    glEnd();
}

} // namespace plotgl

// ---- the plot panel -------------------------------------------------------------------

namespace {
QSurfaceFormat PlotSurfaceFormat()
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    format.setDepthBufferSize(0);
    format.setStencilBufferSize(0);
    return format;
}
} // namespace

namespace {
// One OpenGL context for every plot panel, each rendering into its own
// framebuffer object: a software renderer keeps compiled shaders, scene
// buffers and worker threads per context, so each further context costs
// memory and a switch on every paint. Made by the first panel that draws,
// released with the last panel.
struct SharedContext {
    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOffscreenSurface> offscreen;
    int panels = 0;
    bool failed = false;
};

SharedContext& Shared()
{
    static SharedContext shared; // UI thread only
    return shared;
}

bool MakeSharedCurrent(QScreen* screen, const QString& name)
{
    SharedContext& shared = Shared();
    if (shared.failed)
        return false;
    if (!shared.context) {
        const QSurfaceFormat format = PlotSurfaceFormat();
        shared.context = std::make_unique<QOpenGLContext>();
        shared.context->setFormat(format);
        shared.offscreen = std::make_unique<QOffscreenSurface>(screen);
        shared.offscreen->setFormat(format);
        shared.offscreen->create();
        if (!shared.context->create() || !shared.offscreen->isValid()) {
            std::fprintf(stderr, "Sonalyx: no OpenGL context for the %s plot\n", qPrintable(name));
            shared.failed = true;
            shared.context.reset();
            shared.offscreen.reset();
            return false;
        }
    }
    return shared.context->makeCurrent(shared.offscreen.get());
}

void DoneShared()
{
    Shared().context->doneCurrent();
}

// Columns first .. last of the bound framebuffer into the same columns of
// `into` (RGB32, the framebuffer's height), top row first.
void ReadColumns(int first, int last, QImage& into, std::vector<uint32_t>& scratch)
{
    const int h = into.height();
    const int columns = last - first + 1;
    scratch.resize(static_cast<size_t>(columns) * h);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    // BGRA bytes are the 0xAARRGGBB words of an RGB32 image on this
    // little-endian machine; OpenGL hands the bottom row over first.
    glReadPixels(first, 0, columns, h, GL_BGRA, GL_UNSIGNED_BYTE, scratch.data());
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(into.scanLine(h - 1 - y));
        std::memcpy(line + first, scratch.data() + static_cast<size_t>(y) * columns, static_cast<size_t>(columns) * 4);
    }
}
} // namespace

TPlotSurface::TPlotSurface(const QString& name_, QWidget* parent) : QWidget(parent), name(name_)
{
    // Every pixel comes from the picture: nothing underneath needs painting.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true); // for the readout under the pointer
    recordTimes = std::getenv("SONALYX_PAINT_STATS") != nullptr;
    ++Shared().panels;
}

TPlotSurface::~TPlotSurface()
{
    SharedContext& shared = Shared();
    // The framebuffer goes with its context current.
    if (framebuffer && shared.context && shared.context->makeCurrent(shared.offscreen.get())) {
        framebuffer.reset();
        shared.context->doneCurrent();
    }
    if (--shared.panels == 0) {
        shared.context.reset();
        shared.offscreen.reset();
        shared.failed = false;
    }
}

void TPlotSurface::SetKeepContent(bool keep)
{
    keepContent = keep;
}

void TPlotSurface::MarkChanged(float ndcLeft, float ndcRight)
{
    changedLeft = std::min({changedLeft, ndcLeft, ndcRight});
    changedRight = std::max({changedRight, ndcLeft, ndcRight});
}

void TPlotSurface::MarkChangedColumns(int first, int last)
{
    if (changedColumns.first > changedColumns.second)
        changedColumns = {first, last};
    else
        changedColumns = {std::min(changedColumns.first, first), std::max(changedColumns.second, last)};
}

void TPlotSurface::SetCpuDrawing(bool on)
{
    if (on == cpuDrawing)
        return;
    cpuDrawing = on;
    picture = QImage();
    if (framebuffer && MakeContextCurrent()) {
        framebuffer.reset();
        DoneShared();
    }
    readAll = true;
}

QImage TPlotSurface::Probe(QSize size, const std::function<void()>& draw)
{
    if (!MakeContextCurrent())
        return {};
    QImage pixels;
    {
        QOpenGLFramebufferObject scratch(size);
        if (scratch.bind()) {
            glViewport(0, 0, size.width(), size.height());
            glClearColor(0, 0, 0, 0);
            glClear(GL_COLOR_BUFFER_BIT);
            draw();
            pixels = QImage(size, QImage::Format_RGB32);
            std::vector<uint32_t> scratchRows;
            ReadColumns(0, size.width() - 1, pixels, scratchRows);
            scratch.release();
        }
    }
    DoneShared();
    return pixels;
}

QRgb TPlotSurface::ClearPixel()
{
    for (const StoredClear& stored : clearPixels)
        if (stored.light == LightBackground)
            return stored.pixel;
    const PlotRgba c = SchemeClearColor(LightBackground);
    const QImage probe = Probe(QSize(1, 1), [c] {
        glClearColor(c.r, c.g, c.b, c.a);
        glClear(GL_COLOR_BUFFER_BIT);
    });
    if (probe.isNull()) // no OpenGL: the nearest bytes
        return QColor::fromRgbF(c.r, c.g, c.b).rgb();
    clearPixels.push_back({LightBackground, probe.pixel(0, 0)});
    return clearPixels.back().pixel;
}

void TPlotSurface::EnsurePicture()
{
    const QSize size = DeviceSize();
    if (picture.size() == size)
        return;
    picture = QImage(size, QImage::Format_RGB32);
    picture.fill(ClearPixel());
    picture.setDevicePixelRatio(devicePixelRatioF());
}

void TPlotSurface::ClearSurface()
{
    if (cpuDrawing) {
        EnsurePicture();
        picture.fill(ClearPixel());
        update();
        return;
    }
    if (MakeCurrent()) {
        OpenBracket(true);
        readAll = true;
        DoneCurrent();
    }
    RequestRender();
}

void TPlotSurface::Invalidate()
{
    QMetaObject::invokeMethod(
        this, [this] { keepContent ? RenderAhead() : RequestRender(); }, Qt::QueuedConnection);
}

void TPlotSurface::RequestRender()
{
    renderPending = true;
    update();
}

void TPlotSurface::RenderAhead()
{
    if (!isVisible())
        return; // a hidden surface renders when it is shown again
    Render();
    const auto [first, last] = renderedColumns;
    if (first > last)
        return;
    const qreal ratio = devicePixelRatioF();
    const int left = static_cast<int>(std::floor(first / ratio));
    const int right = static_cast<int>(std::ceil((last + 1) / ratio));
    update(QRect(left, 0, right - left, height()));
}

QImage TPlotSurface::grabFramebuffer()
{
    Render();
    return picture;
}

bool TPlotSurface::MakeContextCurrent()
{
    return MakeSharedCurrent(screen(), name);
}

QSize TPlotSurface::DeviceSize() const
{
    const qreal ratio = devicePixelRatioF();
    return QSize(qRound(width() * ratio), qRound(height() * ratio)).expandedTo(QSize(1, 1));
}

bool TPlotSurface::MakeCurrent()
{
    if (!MakeContextCurrent())
        return false;
    const QSize size = DeviceSize();
    if (framebuffer && framebuffer->size() == size)
        return framebuffer->bind();
    // A new framebuffer has no defined content: a kept surface starts clear.
    framebuffer.reset();
    framebuffer = std::make_unique<QOpenGLFramebufferObject>(size);
    if (!framebuffer->bind()) {
        DoneShared();
        return false;
    }
    OpenBracket(true);
    readAll = true;
    return true;
}

void TPlotSurface::DoneCurrent()
{
    framebuffer->release();
    DoneShared();
}

void TPlotSurface::OpenBracket(bool clear)
{
    const QSize size = framebuffer->size();
    glViewport(0, 0, size.width(), size.height());
    if (!clear)
        return;
    const PlotRgba c = SchemeClearColor(LightBackground);
    glClearColor(c.r, c.g, c.b, c.a);
    glClear(GL_COLOR_BUFFER_BIT);
}

void TPlotSurface::RenderOnCpu()
{
    QElapsedTimer clock;
    if (recordTimes)
        clock.start();
    const bool fresh = picture.size() != DeviceSize();
    EnsurePicture();
    changedColumns = {0, -1};
    rendering = true;
    if (OnRender)
        OnRender();
    rendering = false;
    renderedColumns = keepContent && !fresh ? changedColumns : std::pair{0, picture.width() - 1};
    if (recordTimes) {
        const double ms = clock.nsecsElapsed() / 1e6;
        paintTimes.push_back(ms);
        std::fprintf(stderr, "paint %s %.3f ms\n", qPrintable(name), ms);
    }
}

void TPlotSurface::Render()
{
    renderPending = false;
    RenderPicture();
    emit Rendered();
}

void TPlotSurface::RenderPicture()
{
    if (cpuDrawing) {
        RenderOnCpu();
        return;
    }
    if (!MakeCurrent())
        return;
    QElapsedTimer clock;
    if (recordTimes)
        clock.start();
    rendering = true;
    OpenBracket(!keepContent);
    if (OnRender)
        OnRender();
    rendering = false;
    const auto [first, last] = ColumnsToRead();
    if (first <= last)
        ReadBack(first, last); // waits for the rasteriser to finish
    renderedColumns = {first, last};
    readAll = false;
    changedLeft = 2.0f;
    changedRight = -2.0f;
    DoneCurrent();
    if (recordTimes) {
        const double ms = clock.nsecsElapsed() / 1e6;
        paintTimes.push_back(ms);
        std::fprintf(stderr, "paint %s %.3f ms\n", qPrintable(name), ms);
    }
}

std::pair<int, int> TPlotSurface::ColumnsToRead() const
{
    const int w = framebuffer->width();
    if (!keepContent || readAll || picture.size() != framebuffer->size())
        return {0, w - 1};
    if (changedLeft > changedRight)
        return {0, -1};
    // A line at x covers the pixel whose centre is nearest; one column of
    // margin on each side absorbs the rounding.
    const auto column = [w](float ndc) { return static_cast<int>(std::floor((ndc + 1.0f) * 0.5f * w)); };
    return {std::max(0, column(changedLeft) - 1), std::min(w - 1, column(changedRight) + 1)};
}

void TPlotSurface::ReadBack(int firstColumn, int lastColumn)
{
    if (picture.size() != framebuffer->size())
        picture = QImage(framebuffer->size(), QImage::Format_RGB32);
    ReadColumns(firstColumn, lastColumn, picture, rows);
    picture.setDevicePixelRatio(devicePixelRatioF());
}

namespace {
// The backing-store image a widget painter draws on, when the painter only
// translates (and scales by the device pixel ratio) and the image keeps
// 32-bit pixels that an opaque RGB32 picture can be copied into as they are.
QImage* PlainBackingImage(QPainter& painter, qreal ratio)
{
    QPaintEngine* engine = painter.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster)
        return nullptr;
    QPaintDevice* device = engine->paintDevice();
    if (!device || device->devType() != QInternal::Image)
        return nullptr;
    auto* image = static_cast<QImage*>(device);
    const QImage::Format format = image->format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied)
        return nullptr;
    const QTransform t = painter.deviceTransform();
    if (t.type() > QTransform::TxScale || !qFuzzyCompare(t.m11(), ratio) || !qFuzzyCompare(t.m22(), ratio))
        return nullptr;
    return image;
}
} // namespace

bool TPlotSurface::CopyIntoBackingStore(QPainter& painter, const QRegion& region)
{
    QImage* target = PlainBackingImage(painter, picture.devicePixelRatio());
    if (!target)
        return false;
    const QTransform t = painter.deviceTransform();
    const QPoint origin(qRound(t.dx()), qRound(t.dy()));
    const QRect pictureRect(origin, picture.size());
    // Row pointers once: every scanLine() of a writable image checks
    // whether it must detach.
    uchar* const to = target->bits();
    const uchar* const from = picture.constBits();
    const qsizetype toStride = target->bytesPerLine(), fromStride = picture.bytesPerLine();
    for (const QRect& widgetRect : region) {
        const QRect area = t.mapRect(widgetRect).intersected(pictureRect).intersected(target->rect());
        const size_t bytes = static_cast<size_t>(area.width()) * 4;
        const uchar* source = from + (area.top() - origin.y()) * fromStride + (area.left() - origin.x()) * 4;
        uchar* destination = to + area.top() * toStride + area.left() * 4;
        for (int y = area.top(); y <= area.bottom(); ++y, source += fromStride, destination += toStride)
            std::memcpy(destination, source, bytes);
    }
    return true;
}

void TPlotSurface::paintEvent(QPaintEvent* event)
{
    const bool current = !renderPending && !picture.isNull() && picture.size() == DeviceSize();
    if (!current)
        Render();
    QPainter painter(this);
    if (picture.isNull()) {
        const PlotRgba c = SchemeClearColor(LightBackground);
        painter.fillRect(rect(), QColor::fromRgbF(c.r, c.g, c.b));
        return;
    }
    // The raster engine blits a large image in slices on a thread pool; for
    // an opaque picture that is only a copy, and a plain one on this thread
    // costs a fraction of the threads' wake-ups.
    if (!CopyIntoBackingStore(painter, event->region()))
        painter.drawImage(QPoint(0, 0), picture);
}

void TPlotSurface::mouseDoubleClickEvent(QMouseEvent* event)
{
    QWidget::mouseDoubleClickEvent(event);
    emit DblClick();
}

void TPlotSurface::mouseMoveEvent(QMouseEvent* event)
{
    QWidget::mouseMoveEvent(event);
    emit Hovered(event->position().toPoint());
}

void TPlotSurface::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    emit HoverLeft();
}

void TPlotSurface::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    renderPending = true;
}

void TPlotSurface::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    renderPending = true;
}

double PixelCentreNdcX(int pixel, int length)
{
    return length > 0 ? (pixel + 0.5) * 2.0 / length - 1.0 : 0.0;
}

double PixelCentreNdcY(int pixel, int length)
{
    return length > 0 ? 1.0 - (pixel + 0.5) * 2.0 / length : 0.0;
}
