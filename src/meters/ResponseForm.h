// The response window: plays an exponential sweep through the generator's
// engine to a playback device chosen here while recording a source chosen
// here (a loopback monitor too), and turns the take into the frequency
// response: magnitude (with the coherence under it when an input carries the
// reference), phase, impulse response and harmonic distortion, each on its
// own view. Up to eight measurements are kept and drawn over each other,
// named, coloured, shown or hidden and deleted one by one; they export as
// response text files, impulse WAV files and pictures, and text files load
// back as curves of their own.
//
// The recording runs on the sound server's threads (SweepRecording); the
// window polls it on its timer and analyses the take on the UI thread.
#pragma once

#include "generator/Generator.h"
#include "meters/responsegeometry.h"
#include "views/viewform.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TPlotSurface;
class SweepRecording;

class TFormResponse : public TViewForm {
    Q_OBJECT
public:
    explicit TFormResponse(QWidget* parent = nullptr);
    // Stops a measurement under way.
    ~TFormResponse() override;

    TPlotSurface* PanelResponse = nullptr;
    QComboBox* ComboPlay = nullptr;
    QComboBox* ComboRecord = nullptr;
    QComboBox* ComboLength = nullptr;
    QDoubleSpinBox* EditLevel = nullptr;
    QComboBox* ComboReference = nullptr;
    QComboBox* ComboChannel = nullptr;
    QPushButton* BtnMeasure = nullptr;
    QProgressBar* Progress = nullptr;
    QComboBox* ComboView = nullptr;
    QComboBox* ComboSmoothing = nullptr;
    QComboBox* ComboPhase = nullptr;
    QComboBox* ComboImpulse = nullptr;
    QLabel* LabStatus = nullptr;
    QTreeWidget* ListKept = nullptr; // name (editable, check: shown), delay, peak
    QPushButton* BtnDelete = nullptr;
    QTimer* TimerPoll = nullptr;    // 50 ms while a measurement runs
    QTimer* TimerDevices = nullptr; // follows the server's device lists while shown

    void DrawResponseFrame();
    void DrawFrame() override { DrawResponseFrame(); }
    void InvRectResponse();

    // Starts a measurement with the chosen devices and sweep. Empty when it
    // started, else why not (also shown to the user). Refused while one
    // runs.
    std::string StartMeasurement();
    bool Measuring() const { return recording != nullptr; }
    // Polls the recording: on its end analyses the take and keeps the
    // result, or tells the user why there is none.
    void PollMeasurement();
    // Stops a measurement under way without keeping anything.
    void CancelMeasurement();

    const responseview::KeptList& Kept() const { return kept; }
    // The current (newest) measurement; null when none is kept.
    const responseview::Kept* Current() const;
    // Adds a curve loaded from a response text file; empty on success, else
    // why not.
    std::string LoadText(const QString& path);
    // Writes the current measurement as a response text file, its impulse
    // as a WAV file; empty on success, else why not.
    std::string SaveText(const QString& path);
    std::string SaveImpulse(const QString& path);
    void DeleteKept(int index);
    void SetKeptShown(int index, bool shown);

    // Where the panel draws (device pixels).
    responseview::PanelPlaces Places() const;
    QString ReadoutText(QPoint pointer) override;

public slots:
    void FormShow() override;
    void BtnMeasureClick();
    void BtnDeleteClick();
    void SaveTextClick();
    void SaveImpulseClick();
    void LoadTextClick();
    void ChoiceChange();

protected:
    void hideEvent(QHideEvent* event) override;
    void AddExportActions(QMenu& menu) override;

private:
    void BuildStrip();
    void FillDeviceBoxes();
    void RenderResponse();
    void RefreshList();
    void FinishMeasurement();
    void EndMeasurement();
    void KeepResult(responseview::Kept result);
    std::string RecordingDeviceDescription() const;
    std::string RecordingSourceName() const;

    responseview::KeptList kept;
    std::unique_ptr<SweepRecording> recording;
    std::unique_ptr<measure::ExponentialSweep> sweep; // the sweep being played
    struct RunningChoices {
        double levelDbfs = -6;
        int reference = 0, channel = 0;
        std::string device; // the recording device's listed name
    } running;
    // What the engine held before the measurement, restored after it.
    bool generatorHeld = false;
    BorrowedEngine before;
    bool fillingList = false;
    uint64_t devicesSeen = 0; // the server's change count the boxes were filled at
};

inline TFormResponse* FormResponse = nullptr;
