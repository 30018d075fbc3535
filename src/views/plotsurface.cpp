#include "views/plotsurface.h"

#include "app/global.h"

#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QSlider>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPixmap>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QSurfaceFormat>
#include <QToolButton>

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

// ---- plain conventions ------------------------------------------------------

PlotRgba SchemeClearColor(bool lightBackground)
{
    return lightBackground ? PlotRgba{0.9f, 0.9f, 0.9f, 1.0f} : PlotRgba{0.0f, 0.0f, 0.1f, 1.0f};
}

QRect PlotPanelRect(const PlotRect& plot)
{
    return QRect(plot.left, plot.top, plot.right - plot.left + 1, plot.bottom - plot.top + 1);
}

void SetPlotRect(const PlotRect& plot)
{
    PlotLeft = plot.left;
    PlotRight = plot.right;
    PlotTop = plot.top;
    PlotBottom = plot.bottom;
}

namespace {
int ShadeGrey(int k, int i)
{
    return (k * i + 150) % 256;
}
} // namespace

std::vector<ShadeLine> ShadingLines(const PlotRect& p, const ShadingStyle& style)
{
    std::vector<ShadeLine> lines;
    auto vertical = [&](int i) {
        const int start = style.verticalFromTopMinusI ? p.top - i : p.top;
        lines.push_back({p.left - i, start, p.left - i, p.bottom + i, ShadeGrey(style.verticalK, i)});
    };
    auto horizontal = [&](int i) {
        lines.push_back({p.left - i, p.bottom + i, p.right, p.bottom + i, ShadeGrey(4, i)});
    };
    if (style.verticalFirst) {
        for (int i = 1; i <= style.verticalCount; ++i)
            vertical(i);
        for (int i = 1; i <= HorizontalShadeCount; ++i)
            horizontal(i);
        return lines;
    }
    const int count = std::max(style.verticalCount, HorizontalShadeCount);
    for (int i = 1; i <= count; ++i) {
        if (i <= HorizontalShadeCount)
            horizontal(i);
        if (i <= style.verticalCount)
            vertical(i);
    }
    return lines;
}

Legend ChannelLegend(const PlotRect& p)
{
    const int y = p.bottom + 18;
    Legend legend;
    legend.left = {p.left + 10, p.left + 40, y, ColorLeft};
    legend.right = {p.left + 90, p.left + 120, y, ColorRight};
    legend.leftText = {p.left + 50, p.bottom + 12, "Left"};
    legend.rightText = {p.left + 130, p.bottom + 12, "Right"};
    return legend;
}

void LiftOntoBottomRow(std::vector<PlotVertex>& vertices, int heightPixels)
{
    if (heightPixels <= 0)
        return;
    const float bottomRow = -1.0f + 1.0f / static_cast<float>(heightPixels);
    for (PlotVertex& v : vertices)
        v.y = std::max(v.y, bottomRow);
}

bool DragLeavesDeadZone(int x, int y, int dragX, int dragY)
{
    return std::abs(x - dragX) > 5 || std::abs(y - dragY) > 5;
}

// ---- frame painting -----------------------------------------------------------

namespace {
// Metric-compatible copies of the Windows frame fonts, from Debian's
// fonts-wine, used when fontconfig does not know the family itself.
struct FontFile {
    const char* family;
    const char* path;
};
constexpr FontFile FallbackFontFiles[] = {
    {"Tahoma", "/usr/share/wine/fonts/tahoma.ttf"},
    {"MS Sans Serif", "/usr/share/wine/fonts/ms_sans_serif.ttf"},
};

void EnsureFontFamily(const QString& family)
{
    if (QFontDatabase::hasFamily(family))
        return;
    for (const FontFile& file : FallbackFontFiles)
        if (family == QLatin1String(file.family) && QFile::exists(file.path))
            QFontDatabase::addApplicationFont(file.path);
}

QColor TableColor(int entry)
{
    return QColor(SchemeR[entry], SchemeG[entry], SchemeB[entry]);
}

// A line as the window system draws it: the end point is left out.
void LineWithoutEnd(QPainter& painter, int x1, int y1, int x2, int y2)
{
    const int dx = (x2 > x1) - (x2 < x1);
    const int dy = (y2 > y1) - (y2 < y1);
    if (dx == 0 && dy == 0)
        return;
    painter.drawLine(x1, y1, x2 - dx, y2 - dy);
}

void Swatch(QPainter& painter, const LegendSwatch& swatch, const QColor& color, int width)
{
    painter.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(swatch.x1, swatch.y, swatch.x2, swatch.y);
}
} // namespace

QFont FrameFont(const QString& family, int pixelHeight)
{
    EnsureFontFamily(family);
    QFont font(family);
    font.setPixelSize(pixelHeight);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void ClearFrameCanvas(QPainter& painter, const QColor& background)
{
    painter.fillRect(QRect(0, 0, painter.device()->width(), painter.device()->height()), background);
}

void DrawShading(QPainter& painter, const std::vector<ShadeLine>& lines)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const ShadeLine& line : lines) {
        painter.setPen(QPen(QColor(line.grey, line.grey, line.grey), 0));
        LineWithoutEnd(painter, line.x1, line.y1, line.x2, line.y2);
    }
}

void BeginFrameText(QPainter& painter)
{
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, 0));
}

void DrawFrameText(QPainter& painter, const FrameText& text)
{
    painter.drawText(text.x, text.y + painter.fontMetrics().ascent(), QString::fromStdString(text.text));
}

void DrawFrameTexts(QPainter& painter, const std::vector<FrameText>& texts)
{
    for (const FrameText& text : texts)
        DrawFrameText(painter, text);
}

void DrawChannelLegend(QPainter& painter, const PlotRect& plot)
{
    const Legend legend = ChannelLegend(plot);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QColor underlay(100, 100, 100);
    Swatch(painter, legend.left, underlay, 5);
    Swatch(painter, legend.right, underlay, 5);
    Swatch(painter, legend.left, TableColor(legend.left.colorEntry), 3);
    painter.setPen(QPen(Qt::black, 0));
    DrawFrameText(painter, legend.leftText);
    Swatch(painter, legend.right, TableColor(legend.right.colorEntry), 3);
    painter.setPen(QPen(Qt::black, 0));
    DrawFrameText(painter, legend.rightText);
}

void SetFrameMarker(QImage& canvas)
{
    if (!canvas.isNull())
        canvas.setPixel(0, 0, qRgb(0, 0, 0));
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
    glLineStipple(1, TraceStipple);
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

} // namespace plotgl

// ---- the plot panel -------------------------------------------------------------------

TPlotSurface::TPlotSurface(const QString& name_, QWidget* parent) : QOpenGLWidget(parent), name(name_)
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    format.setDepthBufferSize(0);
    format.setStencilBufferSize(0);
    setFormat(format);
    recordTimes = std::getenv("SONALYX_PAINT_STATS") != nullptr;
}

TPlotSurface::~TPlotSurface() = default;

void TPlotSurface::SetKeepContent(bool keep)
{
    keepContent = keep;
    setUpdateBehavior(keep ? QOpenGLWidget::PartialUpdate : QOpenGLWidget::NoPartialUpdate);
}

void TPlotSurface::ClearSurface()
{
    if (context()) {
        makeCurrent();
        OpenBracket(true);
        doneCurrent();
    }
    update();
}

void TPlotSurface::Invalidate()
{
    QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
}

void TPlotSurface::initializeGL()
{
    // A new framebuffer has no defined content: a kept surface starts clear.
    OpenBracket(true);
}

void TPlotSurface::resizeGL(int, int)
{
    if (keepContent)
        OpenBracket(true);
}

void TPlotSurface::OpenBracket(bool clear)
{
    const qreal ratio = devicePixelRatioF();
    glViewport(0, 0, static_cast<GLsizei>(width() * ratio), static_cast<GLsizei>(height() * ratio));
    if (!clear)
        return;
    const PlotRgba c = SchemeClearColor(LightBackground);
    glClearColor(c.r, c.g, c.b, c.a);
    glClear(GL_COLOR_BUFFER_BIT);
}

void TPlotSurface::paintGL()
{
    QElapsedTimer clock;
    if (recordTimes)
        clock.start();
    rendering = true;
    OpenBracket(!keepContent);
    if (OnRender)
        OnRender();
    rendering = false;
    if (recordTimes) {
        glFinish(); // the software renderer rasterises on flush
        const double ms = clock.nsecsElapsed() / 1e6;
        paintTimes.push_back(ms);
        std::fprintf(stderr, "paint %s %.3f ms\n", qPrintable(name), ms);
    }
}

void TPlotSurface::mouseDoubleClickEvent(QMouseEvent* event)
{
    QOpenGLWidget::mouseDoubleClickEvent(event);
    emit DblClick();
}

// ---- floating scale panels -----------------------------------------------------------------

namespace {
QIcon CloseGlyph()
{
    QPixmap pixmap(8, 8);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QPen(Qt::black, 1.5));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawLine(QPointF(1, 1), QPointF(7, 7));
    painter.drawLine(QPointF(7, 1), QPointF(1, 7));
    return QIcon(pixmap);
}
} // namespace

TScalePanel::TScalePanel(QWidget* plotPanel, const QRect& geometry, const QPoint& closeButtonAt) : QFrame(plotPanel)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(2);
    setAutoFillBackground(true);
    setGeometry(geometry);
    auto* close = new QToolButton(this);
    close->setIcon(CloseGlyph());
    close->setIconSize(QSize(8, 8));
    close->setGeometry(closeButtonAt.x(), closeButtonAt.y(), 19, 17);
    BtnClose = close;
    hide();
}

void TScalePanel::ShowAtHome()
{
    show();
    move(5, 5);
    raise();
}

void TScalePanel::mousePressEvent(QMouseEvent* event)
{
    emit MouseDown(event->button(), event->position().toPoint());
    event->accept();
}

void TScalePanel::mouseMoveEvent(QMouseEvent* event)
{
    emit MouseMove(event->position().toPoint());
    event->accept();
}

void TScalePanel::mouseReleaseEvent(QMouseEvent* event)
{
    emit MouseUp(event->button(), event->position().toPoint());
    event->accept();
}

void ScalePanelMouseDown(Qt::MouseButton button, QPoint position)
{
    DragActive = button == Qt::LeftButton;
    if (DragActive) {
        DragX = position.x();
        DragY = position.y();
    }
}

void ScalePanelMouseMove(QWidget* panel, QPoint position)
{
    if (!DragActive || !DragLeavesDeadZone(position.x(), position.y(), DragX, DragY))
        return;
    panel->move(panel->x() + position.x() - DragX, panel->y() + position.y() - DragY);
}

void ScalePanelMouseUp()
{
    DragActive = false;
}

QLabel* PanelLabel(QWidget* parent, const QString& text, const QRect& geometry, int pixelHeight, bool wrap)
{
    auto* label = new QLabel(text, parent);
    label->setFont(FrameFont("Tahoma", pixelHeight));
    label->setWordWrap(wrap);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (geometry.size().isEmpty()) {
        label->adjustSize();
        label->move(geometry.topLeft());
    } else {
        label->setGeometry(geometry);
    }
    return label;
}

QSlider* PanelTrackBar(QWidget* parent, Qt::Orientation orientation, int min, int max, int position,
                       const QRect& geometry, const QString& hint)
{
    auto* bar = new QSlider(orientation, parent);
    bar->setRange(min, max);
    bar->setValue(position);
    bar->setSingleStep(1);
    bar->setPageStep(1);
    bar->setTickInterval(1);
    if (orientation == Qt::Vertical) {
        // Windows-style: the minimum at the top.
        bar->setInvertedAppearance(true);
        bar->setInvertedControls(true);
        bar->setTickPosition(QSlider::TicksRight);
    } else {
        bar->setTickPosition(QSlider::TicksBelow);
    }
    bar->setGeometry(geometry);
    bar->setToolTip(hint);
    return bar;
}

// ---- wrapping check box ---------------------------------------------------------------------

TWrapCheckBox::TWrapCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {}

void TWrapCheckBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
    QStyleOptionButton box = option;
    box.rect = QRect(indicator.x(), (height() - indicator.height()) / 2, indicator.width(), indicator.height());
    painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, box);
    const QRect textRect = rect().adjusted(indicator.right() + 5, 0, 0, 0);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, text());
}

bool TWrapCheckBox::hitButton(const QPoint& position) const
{
    return rect().contains(position);
}
