#include "views/framepaint.h"

#include "state/global.h"

#include <QFile>
#include <QFontDatabase>

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
