// What the three view windows share: a tool window whose outer geometry is
// kept in the shared geometry fields, a retained canvas image for the axis
// frame (pixel (0, 0) of it is the frame marker the 100 ms tick reads), and
// invalidation that may be requested from any thread.
#pragma once

#include <QImage>
#include <QWidget>

#include <cstdint>

class TViewForm : public QWidget {
    Q_OBJECT
public:
    struct Geometry {
        int32_t* x;
        int32_t* y;
        int32_t* w;
        int32_t* h;
        bool* show;
    };

    TViewForm(const QString& caption, Geometry fields, QSize minimumOuter, QWidget* parent = nullptr);

    // The retained canvas the frame is painted into; pixel (0, 0) is black
    // while the frame is intact.
    QImage& Canvas() { return canvas; }
    bool FrameIntact() const;

    // Outer geometry (frame included), as the settings store it.
    QRect OuterGeometry() const;
    void SetOuterGeometry(int left, int top, int width, int height);

    // Requests a repaint of the whole window without erasing; safe from any
    // thread (the request is queued to the UI thread).
    void Invalidate();

    // Draws the axis frame around the plot; ends with the marker pixel black.
    virtual void DrawFrame();

public slots:
    // Places the window at its stored geometry and raises its show flag;
    // runs on every show that is not a restore from minimised.
    virtual void FormShow();
    bool FormCloseQuery();
    void FormClose();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

    // Resizes the canvas to the client size (contents kept where they fit).
    void EnsureCanvas();

private:
    Geometry fields;
    QSize minimumOuter;
    QImage canvas;
};
