#include "views/pictures.h"

#include <QPainter>
#include <QRadialGradient>

namespace {
QPixmap Blank(int size)
{
    QPixmap pix(size, size);
    pix.fill(Qt::transparent);
    return pix;
}
} // namespace

QPixmap MicrophonePicture()
{
    QPixmap pix = Blank(24);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(90, 90, 110));
    p.drawRoundedRect(QRectF(8, 2, 8, 13), 4, 4);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(5, 6, 14, 12), 180 * 16, 180 * 16);
    p.drawLine(QPointF(12, 18), QPointF(12, 21));
    p.drawLine(QPointF(8, 21), QPointF(16, 21));
    return pix;
}

QPixmap SpeakerPicture()
{
    QPixmap pix = Blank(24);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(90, 90, 110));
    const QPointF cone[] = {{3, 9}, {8, 9}, {14, 4}, {14, 20}, {8, 15}, {3, 15}};
    p.drawPolygon(cone, 6);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(12, 7, 6, 10), -60 * 16, 120 * 16);
    p.drawArc(QRectF(12, 3, 10, 18), -60 * 16, 120 * 16);
    return pix;
}

QPixmap StatusLampPicture(bool on)
{
    QPixmap pix = Blank(22);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor light = on ? QColor(170, 255, 150) : QColor(200, 90, 90);
    const QColor body = on ? QColor(20, 170, 30) : QColor(110, 20, 20);
    QRadialGradient glow(QPointF(8, 8), 12);
    glow.setColorAt(0, light);
    glow.setColorAt(1, body);
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(glow);
    p.drawEllipse(QRectF(2, 2, 18, 18));
    return pix;
}
