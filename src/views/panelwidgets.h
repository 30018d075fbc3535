// The widgets laid on a view's plot panel: TScalePanel, the floating scale
// panel with its close button, and the drag that moves it (5-pixel dead
// zone, anchor kept); the scale panels' labels, track bars and wrapping
// check box; the readout label of values under the pointer. UI thread.
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPoint>
#include <QRect>
#include <QString>

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

// A check box whose text wraps inside its fixed width.
class TWrapCheckBox : public QCheckBox {
    Q_OBJECT
public:
    TWrapCheckBox(const QString& text, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& position) const override;
};
