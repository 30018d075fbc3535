// The spectrum view window: the newest magnitude spectrum of each channel on
// the OpenGL plot panel PanelSpec, logarithmic (decibels over a logarithmic
// frequency axis) or linear (percent over hertz), the axis frame around it on
// the form's canvas, and the floating scale panel PanelSpectScale with the
// mode check box and the two range track bars of the linear mode.
#pragma once

#include "state/global.h"
#include "views/panelwidgets.h"
#include "views/plotsurface.h"
#include "views/viewform.h"

#include <QLabel>
#include <QSlider>

#include <vector>

class TFormSpect : public TViewForm {
    Q_OBJECT
public:
    explicit TFormSpect(QWidget* parent = nullptr);

    TPlotSurface* PanelSpec = nullptr;
    TScalePanel* PanelSpectScale = nullptr;
    QLabel* LabY = nullptr;
    QSlider* TrackBarFY = nullptr;
    QLabel* LabAmpl = nullptr;
    TWrapCheckBox* CheckLnSnd = nullptr;
    TWrapCheckBox* CheckPeak = nullptr;
    QLabel* LabFX = nullptr;
    QSlider* TrackBarFX = nullptr;
    QLabel* LabFreq = nullptr;

    // Shading, numbers and captions of the current mode, legend and marker on
    // the canvas; places PanelSpec on the plot rectangle.
    void DrawSpectFrame();
    void DrawFrame() override { DrawSpectFrame(); }
    // Requests a repaint of the plot (any thread); the frame stays.
    void InvRectSpect();
    // Grid and traces of either mode. Called while the plot paints, they
    // draw; called from elsewhere they request a paint, which renders the
    // mode SpectIsLn selects.
    void RenderSpectLinear();
    void RenderSpectLog();

public slots:
    // Loads the mode and ranges into the controls (also run on creation).
    void FormCreate();
    void FormShow() override;
    void FormActivate();
    void FormPaint();
    void FormResize();
    void PanelSpecDblClick();
    void SpectScalesShow();
    void CheckLnSndClick();
    // Turns the peak readout under the frame on or off.
    void CheckPeakClick();
    // The context menu's "Save Spectrum as CSV...".
    void SaveSpectrumClick();
    void TrackBarFXChange(int position);
    void TrackBarFYChange(int position);
    void BtnCloseClick();
    void PanelSpectScaleMouseDown(Qt::MouseButton button, QPoint position);
    void PanelSpectScaleMouseMove(QPoint position);
    void PanelSpectScaleMouseUp(Qt::MouseButton button, QPoint position);

public:
    // Frequency under the pointer and the drawn level of each shown channel.
    QString ReadoutText(QPoint pointer) override;
    // Writes the spectrum drawn last as CSV (see readout::SpectrumCsv); the
    // file appears whole or not at all. Empty on success, else why not.
    std::string SaveSpectrum(const QString& path);
    // The text of the peak line as drawn last; empty while it is off.
    const std::string& PeakLineText() const { return peakLine; }

protected:
    void changeEvent(QEvent* event) override;
    void AddExportActions(QMenu& menu) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildScalePanel();
    // Slice 0 of both channels, copied under DataLock.
    void CopyNewestSpectra();
    // The peak line under the frame, from the rows drawn last.
    void DrawPeakLine();
    float rows[2][BinSlots] = {};
    std::vector<PlotVertex> trace;
    std::string peakLine;
};

inline TFormSpect* FormSpect = nullptr;
