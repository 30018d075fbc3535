// The spectrum view window: the newest magnitude spectrum of each channel on
// the OpenGL plot panel PanelSpec, logarithmic (decibels over a logarithmic
// frequency axis) or linear (percent over hertz), the axis frame around it on
// the form's canvas, and the floating scale panel PanelSpectScale with the
// mode check box and the two range track bars of the linear mode. Beside
// them the instruments: the averaging with its reset and count, peak hold
// (a dimmer second trace per channel) with its decay, and the frequency
// weighting; the trace, the readout, the peak line and the CSV export show
// the averaged and weighted spectrum. On a calibrated recording device the
// "dB SPL when calibrated" box turns the level axis, the readout and the
// peak line into sound pressure levels; the device's microphone response
// file, while it has one, comes off everything the window shows.
#pragma once

#include "analysis/readout.h"
#include "state/global.h"
#include "views/panelwidgets.h"
#include "views/plotsurface.h"
#include "views/viewform.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <cstdint>

#include <functional>
#include <optional>
#include <vector>

class TFormSpect : public TViewForm {
    Q_OBJECT
public:
    explicit TFormSpect(QWidget* parent = nullptr);
    // The block path stops feeding the instruments.
    ~TFormSpect() override;

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
    QComboBox* CmbAveraging = nullptr;
    QPushButton* BtnReset = nullptr;
    QLabel* LabCount = nullptr;
    TWrapCheckBox* CheckPeakHold = nullptr;
    QComboBox* CmbDecay = nullptr;
    QComboBox* CmbWeighting = nullptr;
    TWrapCheckBox* CheckSpl = nullptr;

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

    // Forgets the averages and held peaks and repaints: the Reset button,
    // the R key, and a change of device, window function or channels.
    void ResetInstruments();

public slots:
    // Loads the mode, ranges and instrument choices into the controls and
    // hands the choices to the instruments (also run on creation).
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
    void CmbAveragingChange(int index);
    void BtnResetClick();
    void CheckPeakHoldClick();
    void CmbDecayChange(int index);
    void CmbWeightingChange(int index);
    void CheckSplClick();
    void TrackBarFXChange(int position);
    void TrackBarFYChange(int position);
    void BtnCloseClick();
    void PanelSpectScaleMouseDown(Qt::MouseButton button, QPoint position);
    void PanelSpectScaleMouseMove(QPoint position);
    void PanelSpectScaleMouseUp(Qt::MouseButton button, QPoint position);

public:
    // Frequency under the pointer and the drawn level of each shown channel.
    QString ReadoutText(QPoint pointer) override;
    // Writes the spectrum drawn last as CSV (see readout::SpectrumCsv, with
    // the averaging, its count and the weighting in the header); the file
    // appears whole or not at all. Empty on success, else why not.
    std::string SaveSpectrum(const QString& path);
    // The text of the peak line as drawn last; empty while it is off.
    const std::string& PeakLineText() const { return peakLine; }

    // The context menu's instrument entries: the averaging, the reset, peak
    // hold and its decay, the weighting.
    void AddInstrumentActions(QMenu& menu);
    // The rows drawn last (channel 0 left, 1 right) and the slices fed to
    // their average since its reset.
    const float* DrawnRow(int channel) const { return rows[channel]; }
    int64_t DrawnAveragedSlices() const { return averagedSlices; }
    // The offset the levels read with (dB SPL = dBFS + offset): the
    // recording device's calibration while "dB SPL" is checked, none
    // otherwise. Read again with the device's microphone file at every frame.
    std::optional<double> SplOffset() const { return splOffset; }

protected:
    void changeEvent(QEvent* event) override;
    void AddExportActions(QMenu& menu) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildScalePanel();
    void BuildInstrumentControls(QWidget* panel);
    // Hands the chosen averaging and peak hold to the block path's
    // instruments.
    void ApplyInstruments();
    // The shown spectrum (slice 0 or the average, weighted) and the held
    // peaks of both channels, copied under DataLock.
    void CopyShownSpectra();
    // Peak traces first, so the spectra stay on top of them.
    void DrawPeakTraces(const std::function<void(const float*)>& makeTrace);
    // The peak line under the frame, from the rows drawn last.
    void DrawPeakLine();
    // The panel's count of the slices in the average drawn last.
    void ShowAveragedCount();
    float rows[2][BinSlots] = {};
    float peakRows[2][BinSlots] = {};
    bool peaksHeld[2] = {false, false};
    int64_t averagedSlices = 0;
    std::vector<PlotVertex> trace;
    std::string peakLine;
    std::optional<double> splOffset;
    // Reads the device's calibration and hands its microphone response to
    // the instruments.
    void FollowCalibration();
    // The scale the readout and the peak line give levels in.
    readout::LevelScale LevelScale() const;
};

inline TFormSpect* FormSpect = nullptr;
