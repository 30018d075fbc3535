// The octave bands view window: a bar per band and shown channel of the
// fractional-octave band levels on the plot panel PanelBands, the level axis
// (dBFS, or dB(A) / dB(C) when weighted; dB SPL on a calibrated device when
// chosen) and the band labels in the frame around it, and the floating scale
// panel PanelBandsScale with the fraction, averaging, weighting, peak hold,
// the axis' top and span and its unit.
//
// The band levels come from one BandMeter fed in the block path, and only
// while this window is shown (FeedBands); painting reads what it measured.
#pragma once

#include "measure/bandmeter.h"
#include "measure/micresponse.h"
#include "views/panelwidgets.h"
#include "views/plotsurface.h"
#include "views/viewform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>

#include <cstdint>
#include <optional>
#include <string>

// Feeds one captured block (`frames` samples per channel) to the octave
// view's meter when the view is shown; does nothing otherwise. Block path,
// any thread.
void FeedBands(const int16_t* left, const int16_t* right, int frames);
// Starts the meter afresh (a new device): filters, averages and peaks.
void RestartBands();

class TFormBands : public TViewForm {
    Q_OBJECT
public:
    explicit TFormBands(QWidget* parent = nullptr);
    // Stops the feeding and drops the meter with what it measured.
    ~TFormBands() override;

    TPlotSurface* PanelBands = nullptr;
    TScalePanel* PanelBandsScale = nullptr;
    QComboBox* ComboFraction = nullptr;
    QComboBox* ComboAveraging = nullptr;
    QComboBox* ComboWeighting = nullptr;
    QCheckBox* CheckPeak = nullptr;
    QComboBox* ComboDecay = nullptr;
    QSlider* TrackBarTop = nullptr;
    QSlider* TrackBarSpan = nullptr;
    QPushButton* BtnReset = nullptr;
    QCheckBox* CheckSpl = nullptr;

    // Level labels, band labels and the unit around the plot; places
    // PanelBands on the plot rectangle.
    void DrawBandsFrame();
    void DrawFrame() override { DrawBandsFrame(); }
    // Requests a repaint of the plot (any thread).
    void InvRectBands();
    // The reading drawn last.
    const measure::BandReading& Reading() const { return reading; }
    // The offset the level axis adds (dB SPL = dBFS + offset): the
    // recording device's calibration while "dB SPL" is checked; none
    // otherwise. Read again at every frame.
    std::optional<double> SplOffset() const { return splOffset; }
    // The recording device's measurement microphone response, taken out of
    // the band levels while the device has one. Read again at every frame.
    const measure::MicResponse& MicResponse() const { return micResponse; }

public slots:
    void FormShow() override;
    void BandsScalesShow();
    // Any choice of the scale panel: stored, given to the meter, redrawn.
    void ChoiceChange();
    void BtnResetClick();
    // The context menu's "Save Bands as CSV...".
    void SaveBandsClick();

public:
    // Nominal and exact centre, edges and the level of each shown channel.
    QString ReadoutText(QPoint pointer) override;
    // Writes the bands drawn last as CSV; the file appears whole or not at
    // all. Empty on success, else why not.
    std::string SaveBands(const QString& path);

protected:
    void AddExportActions(QMenu& menu) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildScalePanel();
    void LoadChoices();
    void RenderBands();
    measure::BandReading reading;
    std::optional<double> splOffset;
    measure::MicResponse micResponse;
};

inline TFormBands* FormBands = nullptr;
