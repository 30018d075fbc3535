// The distortion window: the newest samples of the chosen channel (or of
// both, side by side) through the distortion and noise analyzer about once
// a second, with the readings as text, the long transform's spectrum on a
// log frequency axis with the fundamental and its harmonics marked, and the
// residual waveform below it. A test tone of its own plays through the
// generator's engine to a playback device chosen here; the generator window
// says it is in use meanwhile.
//
// The window keeps a ring of the newest samples, fed in the block path
// while it is shown (FeedDistortion); the analysis runs on the UI thread's
// timer, on a copy taken under the ring's lock.
#pragma once

#include "generator/Generator.h"
#include "meters/distortiongeometry.h"
#include "views/viewform.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TPlotSurface;
struct DistortionChannelResult;

// Samples kept per channel: the longest transform.
inline constexpr int DistortionRingFrames = 131072;

// Feeds one captured block (`frames` samples per channel) to the window's
// ring while the window is shown; does nothing otherwise. Block path, any
// thread.
void FeedDistortion(const int16_t* left, const int16_t* right, int frames);
// Empties the ring (a new device): nothing of the old device is analysed.
void RestartDistortion();

class TFormDistortion : public TViewForm {
    Q_OBJECT
public:
    explicit TFormDistortion(QWidget* parent = nullptr);
    // Stops the tone and the feeding.
    ~TFormDistortion() override;

    TPlotSurface* PanelDistortion = nullptr;
    QComboBox* ComboChannel = nullptr;
    QComboBox* ComboSize = nullptr;
    QComboBox* ComboAverage = nullptr;
    QLabel* LabAverage = nullptr; // spectra held in the average
    QDoubleSpinBox* EditToneHz = nullptr;
    QDoubleSpinBox* EditToneDbfs = nullptr;
    QComboBox* ComboDevice = nullptr;
    QPushButton* BtnPlay = nullptr; // "Play", "Stop" while the tone plays
    QPushButton* BtnCsv = nullptr;
    QTimer* TimerAnalyse = nullptr; // about once a second
    QTimer* TimerTone = nullptr;    // watches the playback devices while the tone plays

    // One channel's last analysis (meters/distortionresult.h).
    using ChannelResult = DistortionChannelResult;

    void DrawDistortionFrame();
    void DrawFrame() override { DrawDistortionFrame(); }
    void InvRectDistortion();

    // Analyses the newest samples now when the ring holds enough of them
    // and something new came since the last analysis; true when it did.
    bool Analyse();
    const std::vector<ChannelResult>& Results() const { return results; }
    // The spectrum's place in the panel (device pixels) of the i-th
    // channel shown.
    distortionview::SectionPlaces Places(int index) const;
    // The calibration of the recording device (read when it changes).
    distortionview::Calibration DeviceCalibration();
    // The stored calibration changed: read it again and show the readings
    // in it.
    void FollowCalibration();
    // The CSV of the last readings written to `path`; empty on success,
    // else why not.
    std::string SaveCsv(const QString& path);
    QString ReadoutText(QPoint pointer) override;

    // The test tone: plays the chosen frequency and level on the chosen
    // device. Empty on success, else why not (also shown to the user).
    std::string StartTone();
    void StopTone();
    bool TonePlaying() const { return tonePlaying; }

public slots:
    void FormShow() override;
    void BtnPlayClick();
    void BtnCsvClick();
    void ComboChannelChange(int index);
    void ComboSizeChange(int index);
    void ComboAverageChange(int index);
    void ToneChange();
    void ComboDeviceChange(int index);
    void TimerToneTimer();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void AddExportActions(QMenu& menu) override;

private:
    struct Analysis; // the analyzers and averages of both channels
    void BuildStrip();
    void FillDeviceBox();
    void RenderDistortion();
    void RestartAverages();
    std::vector<int> ChannelsShown() const;
    std::unique_ptr<Analysis> analysis;
    std::vector<ChannelResult> results;
    std::optional<std::string> calibratedDevice;
    distortionview::Calibration calibration;
    uint64_t analysedUpTo = 0; // frames fed when the last analysis ran
    // The tone, and what the engine held before it, restored when it stops.
    bool tonePlaying = false;
    int toneDeviceCount = 0;
    BorrowedEngine before;
};

inline TFormDistortion* FormDistortion = nullptr;
