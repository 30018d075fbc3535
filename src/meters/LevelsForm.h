// The levels view window: per channel the sample peak with its held maximum
// and clip count, the true peak, the RMS levels Fast and Slow and Leq with
// the chosen frequency weighting, then the loudness (momentary, short-term,
// integrated, range, maximum true peak), each a bar with a large number on
// the panel PanelLevels, below a strip with the weighting, the reset, the
// calibration of the recording device and the button that sets it. A
// calibrated device reads its levels in dB SPL.
//
// The meters are fed in the block path, and only while this window is shown
// (FeedLevels); painting reads what they measured under the same lock.
#pragma once

#include "meters/levelsgeometry.h"
#include "views/plotsurface.h"
#include "views/viewform.h"

#include "measure/levellog.h"
#include "measure/micresponse.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TFormCalibrate;

// Feeds one captured block (`frames` samples per channel) to the levels
// view's meters when the view is shown; does nothing otherwise. Block path,
// any thread.
void FeedLevels(const int16_t* left, const int16_t* right, int frames);
// Starts the meters afresh (a new device): filters, levels and loudness.
void RestartLevels();

class TFormLevels : public TViewForm {
    Q_OBJECT
public:
    explicit TFormLevels(QWidget* parent = nullptr);
    // Stops the feeding and drops the meters with what they measured.
    ~TFormLevels() override;

    TPlotSurface* PanelLevels = nullptr;
    QLabel* LabWeighting = nullptr;
    QComboBox* ComboWeighting = nullptr;
    QPushButton* BtnReset = nullptr;
    QPushButton* BtnCalibrate = nullptr;
    QPushButton* BtnLog = nullptr; // "Log to File...", "Stop Log" while logging
    QTimer* TimerLog = nullptr;    // writes the seconds the meters finished
    QLabel* LabCalibration = nullptr;
    TFormCalibrate* FormCalibrate = nullptr; // made by the first "Calibrate..."

    // The strip's controls and the panel below them.
    void DrawLevelsFrame();
    void DrawFrame() override { DrawLevelsFrame(); }
    // Requests a repaint of the panel (any thread).
    void InvRectLevels();
    // What the panel showed last.
    const levelsview::MeterReadings& Readings() const { return readings; }

    // The calibration of the recording device measured now, read from the
    // stored calibrations when the device changes.
    levelsview::Calibration DeviceCalibration();
    // Sets (or, with none, removes) the device's calibration and stores it
    // for the device; its microphone file stays. Empty on success, else
    // why it could not be stored (the calibration then holds until the
    // device changes).
    std::string SetDeviceCalibration(levelsview::Calibration calibration);

    // The device's measurement microphone file: its path (empty: none) and
    // response, taken out of the weighted levels (Fast, Slow, Leq) as the
    // sound's fine band powers weigh it: exact for a response flat within a
    // 1/24 octave, and for the maxima while the spectrum holds still.
    const std::string& MicFile();
    const measure::MicResponse& MicResponse();
    // Reads the response file at `path` and chooses it for the device,
    // stored with its offset. A file the parser refuses changes nothing:
    // the parser's message (naming the line) is returned; empty otherwise.
    // *storeFailure says why the choice could not be stored (it then holds
    // until the device changes).
    std::string LoadMicFile(const std::string& path, std::string* storeFailure);
    // No microphone file for the device. Empty on success, else why not
    // stored.
    std::string RemoveMicFile();

    // Collects CalibratorSeconds of one channel (0 left, 1 right) from the
    // blocks fed from now on, for measuring a calibrator's tone.
    void StartCalibratorCapture(int channel);
    // The seconds collected so far; none when no capture runs (not started,
    // taken, cancelled, or dropped by a device change).
    std::optional<double> CalibratorCaptureSeconds() const;
    // The samples once all are collected; the capture then ends. Empty
    // before.
    std::vector<int16_t> TakeCalibratorCapture();
    void CancelCalibratorCapture();

    // The level log: one line per second of LAeq, LAFmax and LCpeak of
    // each channel (an A and a C meter run beside the window's own while
    // it logs) and momentary and short-term loudness, in the unit shown
    // when it started. Empty on success, else why the file could not be
    // made.
    std::string StartLog(const QString& path);
    // Closes the log, keeping what was written.
    void StopLog();
    bool Logging() const { return log.IsOpen(); }

public slots:
    void FormShow() override;
    // The weighting chosen: stored, given to the meters (which start again).
    void ComboWeightingChange(int index);
    // Starts the held maxima, clip counts, Leq and the loudness again.
    void BtnResetClick();
    // Opens the calibration dialog for the device measured now.
    void BtnCalibrateClick();
    // Starts a log into a file the user chooses, or stops the one running.
    void BtnLogClick();
    // Writes the seconds finished since the last tick; a failed write or a
    // device change stops the log with a message.
    void TimerLogTimer();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildStrip();
    void RenderLevels();
    // Reads the calibration of the device measured now when it is not the
    // one read last; updates the strip's text.
    void FollowDevice();
    void ShowCalibrationText();
    // Gives the meters the device's microphone response (or none).
    void ApplyMicToMeters();
    levelsview::MeterReadings readings;
    std::optional<std::string> calibratedDevice; // whose calibration `calibration` is
    levelsview::Calibration calibration;
    std::string micFile; // the device's microphone file, kept when the offset changes
    measure::MicResponse micResponse;
    measure::LevelLog log;
    QString logPath;
    levelsview::Calibration logCalibration; // the unit of the log, fixed at its start
};

inline TFormLevels* FormLevels = nullptr;
