#include "about/about.h"

#include "analysis/SpTmMap.h"
#include "desktop/shell.h"
#include "views/framepaint.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QScreen>
#include <QShowEvent>

#include <cmath>
#include <functional>

namespace {

constexpr int BannerWidth = 401;
constexpr int BannerHeight = 63;
// The three view pictures: 52 x 51 each, 6 px apart, from the left edge.
constexpr int ViewTop = 6;
constexpr int ViewWidth = 52;
constexpr int ViewHeight = 51;
constexpr int ViewStep = ViewWidth + 6;
constexpr int NameLeft = 188; // the name starts right of the pictures
constexpr int NameBaseline = 43;

// The dark scheme's colours, as the views draw them.
const QColor ViewBackground(0, 0, 26);
const QColor GridColour(70, 70, 90);
const QColor LeftTraceColour(255, 200, 20);
const QColor RightTraceColour(0, 255, 0);

void SetBackground(QWidget* widget, const QColor& colour)
{
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
}

// A view's canvas with a 4 x 4 grid; the painter's origin is moved to its
// top left corner.
void DrawViewFrame(QPainter& p, int left)
{
    p.setTransform(QTransform::fromTranslate(left, ViewTop));
    p.fillRect(0, 0, ViewWidth, ViewHeight, ViewBackground);
    p.setPen(GridColour);
    for (int i = 0; i <= 4; ++i) {
        const int x = i * (ViewWidth - 1) / 4;
        const int y = i * (ViewHeight - 1) / 4;
        p.drawLine(x, 0, x, ViewHeight - 1);
        p.drawLine(0, y, ViewWidth - 1, y);
    }
}

// A trace across the canvas: y (in canvas pixels) of each column.
void DrawTrace(QPainter& p, const QColor& colour, const std::function<double(int)>& yOfColumn)
{
    QPolygon trace;
    for (int x = 1; x < ViewWidth - 1; ++x)
        trace << QPoint(x, static_cast<int>(std::lround(yOfColumn(x))));
    p.setPen(colour);
    p.drawPolyline(trace);
}

void DrawWaveformView(QPainter& p, int left)
{
    DrawViewFrame(p, left);
    const double middle = (ViewHeight - 1) / 2.0;
    DrawTrace(p, LeftTraceColour, [&](int x) { return middle - 17 * std::sin(x * 0.25); });
    DrawTrace(p, RightTraceColour, [&](int x) { return middle - 10 * std::sin(x * 0.37 + 1.0); });
}

// Falling spectra, each with a tone standing out at its own frequency.
void DrawSpectrumView(QPainter& p, int left)
{
    DrawViewFrame(p, left);
    auto spectrum = [](int x, double tone) {
        const double floor = 0.1 + 0.55 * std::exp(-x / 16.0);
        const double peak = 0.4 * std::exp(-(x - tone) * (x - tone) / 5.0);
        return ViewHeight - 3 - (ViewHeight - 6) * (floor + peak);
    };
    DrawTrace(p, LeftTraceColour, [&](int x) { return spectrum(x, 14); });
    DrawTrace(p, RightTraceColour, [&](int x) { return spectrum(x, 31) + 4; });
}

// Columns of the spectrogram's own palette: lows at the bottom that come
// and go from column to column, and a tone sweeping upwards.
void DrawSpectrogramView(QPainter& p, int left)
{
    p.setTransform(QTransform::fromTranslate(left, ViewTop));
    for (int x = 0; x < ViewWidth; ++x) {
        const double tone = ViewHeight * (0.8 - 0.5 * x / ViewWidth);
        const double loudness = 0.6 + 0.4 * std::sin(x * 0.9);
        for (int y = 0; y < ViewHeight; ++y) {
            const double depth = static_cast<double>(y) / ViewHeight;
            const double lows = 450.0 * loudness * depth * depth * depth;
            const double line = 600.0 * std::exp(-(y - tone) * (y - tone) / 3.0);
            const sptm::Rgb c = sptm::PaletteColor(static_cast<int>(lows + line), false);
            p.fillRect(x, y, 1, 1, QColor(c.r, c.g, c.b));
        }
    }
}

void DrawName(QPainter& p)
{
    p.resetTransform();
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont nameFont = FrameFont("Tahoma", 30);
    nameFont.setBold(true);
    nameFont.setItalic(true);
    QFont versionFont = nameFont;
    versionFont.setPixelSize(18);
    const QString name = "Sonalyx";
    const int versionLeft = NameLeft + QFontMetrics(nameFont).horizontalAdvance(name) + 8;
    // A dark shadow one pixel down and right keeps the text clear of the gradient.
    for (const bool shadow : {true, false}) {
        const int offset = shadow ? 1 : 0;
        p.setPen(shadow ? QColor(0, 0, 60) : QColor(255, 255, 255));
        p.setFont(nameFont);
        p.drawText(NameLeft + offset, NameBaseline + offset, name);
        p.setPen(shadow ? QColor(0, 0, 60) : QColor(255, 230, 150));
        p.setFont(versionFont);
        p.drawText(versionLeft + offset, NameBaseline + offset, "2.0");
    }
}

} // namespace

QImage AboutBanner()
{
    QImage banner(BannerWidth, BannerHeight, QImage::Format_RGB32);
    QPainter p(&banner);
    QLinearGradient blue(0, 0, BannerWidth, 0);
    blue.setColorAt(0, QColor(10, 20, 90));
    blue.setColorAt(1, QColor(70, 130, 235));
    p.fillRect(banner.rect(), blue);
    DrawWaveformView(p, ViewTop);
    DrawSpectrumView(p, ViewTop + ViewStep);
    DrawSpectrogramView(p, ViewTop + 2 * ViewStep);
    DrawName(p);
    return banner;
}

TFormAbout::TFormAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setWindowTitle("About");
    setFont(FrameFont("Tahoma", 11));
    setFixedSize(402, 247);
    SetBackground(this, QColor(227, 219, 213));
    BuildControls();
}

void TFormAbout::BuildControls()
{
    Image1 = new QLabel(this);
    Image1->setPixmap(QPixmap::fromImage(AboutBanner()));
    Image1->setGeometry(0, 0, BannerWidth, BannerHeight);

    LabWWW = new QLabel(MakerAddress, this);
    LabWWW->setTextFormat(Qt::PlainText);
    QFont linkFont = FrameFont("MS Sans Serif", 12);
    linkFont.setUnderline(true);
    LabWWW->setFont(linkFont);
    QPalette linkPalette = LabWWW->palette();
    linkPalette.setColor(QPalette::WindowText, QColor(0, 0, 128));
    LabWWW->setPalette(linkPalette);
    LabWWW->setAutoFillBackground(false); // the box's colour shows through
    LabWWW->setCursor(Qt::PointingHandCursor);
    LabWWW->adjustSize();
    LabWWW->move(130, 120);
    LabWWW->installEventFilter(this);

    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Panel1->setGeometry(0, 150, 400, 2);

    BitBtnClose = new QPushButton("OK", this);
    BitBtnClose->setGeometry(160, 208, 73, 25);
    BitBtnClose->setDefault(true); // Enter closes the box too
    connect(BitBtnClose, &QPushButton::clicked, this, &TFormAbout::BitBtnCloseClick);
}

void TFormAbout::BitBtnCloseClick()
{
    close();
}

void TFormAbout::LabWWWClick()
{
    // The modal box goes first, so that the program is free again by the
    // time the browser comes up over it.
    close();
    desktop::OpenDocument(MakerAddress); // no browser is nothing to report
}

void TFormAbout::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        CentreOnOwner();
}

bool TFormAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == LabWWW && event->type() == QEvent::MouseButtonRelease) {
        // A click, as on a button: pressed and released on the label.
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && LabWWW->rect().contains(mouse->position().toPoint())) {
            LabWWWClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// On the window that owns the box (the main window, which creates it); on
// the screen when it has no owner or the owner is not showing.
void TFormAbout::CentreOnOwner()
{
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    const QRect area = owner && owner->isVisible() ? owner->frameGeometry() : screen()->availableGeometry();
    QRect box = frameGeometry();
    box.moveCenter(area.center());
    move(box.topLeft());
}
