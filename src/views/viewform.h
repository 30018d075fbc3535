// What the three view windows share: a tool window whose outer geometry is
// kept in the shared geometry fields, a retained canvas image for the axis
// frame (pixel (0, 0) of it is the frame marker the 100 ms tick reads), and
// invalidation that may be requested from any thread.
#pragma once

#include "analysis/screenfit.h"

#include <QImage>
#include <QMenu>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TPlotSurface;
class TReadoutLabel;

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
    // Copies the outer geometry into the shared geometry fields.
    void KeepGeometry();
    // The available areas of the screens at hand (without panels and docks).
    static std::vector<ScreenRect> AvailableScreens();

    // Requests a repaint of the whole window without erasing; safe from any
    // thread (the request is queued to the UI thread).
    void Invalidate();

    // Draws the axis frame around the plot; ends with the marker pixel black.
    virtual void DrawFrame();

    // The values under the pointer over `panel` in a label beside it, from
    // ReadoutText: on every move and after every render while the pointer
    // is there, gone when it leaves. The constructor calls it once.
    void AttachReadout(TPlotSurface* panel);
    // The values at `pointer` (panel pixels); empty: no label.
    virtual QString ReadoutText(QPoint pointer);
    TReadoutLabel* Readout() const { return readout; }

    // Writes the window as shown, frame and plot, as a PNG file; the file
    // appears whole or not at all. Empty on success, else why it failed.
    std::string SavePicture(const QString& path);
    // The name files of this view start with: "waveform", "spectrum",
    // "spectrogram".
    QString FileBaseName() const;

public slots:
    // Places the window at its stored geometry, cut to the screens, and
    // raises its show flag; runs on every show that is not a restore from
    // minimised. Geometry that no screen holds leaves the window where it is.
    virtual void FormShow();
    bool FormCloseQuery();
    void FormClose();
    // The context menu's "Save Picture...": asks for a file, saves, and
    // tells the user when that failed.
    void SavePictureClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // The context menu's entries; a view with more to export adds them.
    virtual void AddExportActions(QMenu& menu);
    // Asks for the file to save into, starting from `suggested` in the
    // pictures folder; empty when the user cancelled.
    QString AskSaveFile(const QString& suggested, const QString& filter);

public:
    // Answers AskSaveFile instead of the dialog when set (tests).
    static inline std::function<QString(const QString& suggested)> SaveFileHook;

protected:
    // Tells the user that saving failed, and why.
    static void ReportSaveFailure(const QString& path, const std::string& why);

    // Resizes the canvas to the client size (contents kept where they fit).
    void EnsureCanvas();

private:
    Geometry fields;
    QSize minimumOuter;
    QImage canvas;
    TPlotSurface* readoutPanel = nullptr;
    TReadoutLabel* readout = nullptr;
    QPoint pointer;
    bool pointerOver = false;
    void UpdateReadout();
};
