#include "views/panelwidgets.h"

#include "state/global.h"
#include "views/framepaint.h"

#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSlider>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QToolButton>

#include <algorithm>

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

// ---- readout label -------------------------------------------------------------------------

TReadoutLabel::TReadoutLabel(QWidget* plotPanel) : QLabel(plotPanel)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFont(FrameFont("Tahoma", 11));
    setAutoFillBackground(true);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setMargin(2);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(255, 255, 225));
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);
    hide();
}

void TReadoutLabel::ShowAt(QPoint pointer, const QString& text)
{
    setText(text);
    adjustSize();
    const QWidget* panel = parentWidget();
    // Below right of the pointer, turned to the other side near an edge.
    int x = pointer.x() + 14, y = pointer.y() + 14;
    if (x + width() > panel->width())
        x = pointer.x() - 6 - width();
    if (y + height() > panel->height())
        y = pointer.y() - 6 - height();
    move(std::max(0, x), std::max(0, y));
    show();
    raise();
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
