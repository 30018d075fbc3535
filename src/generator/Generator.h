// The generator window: sine, white noise or pink noise, the left and right sine
// frequencies by track bar or typed, the playback device with its open and
// close, and the output volume, kept in step with the engine and the sound
// server by a 100 ms timer. A small stay-on-top window of fixed size.
#pragma once

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include <atomic>
#include <cstdint>

// The window's client size: the form's 291 x 265 and a second row for the
// signal choice.
inline constexpr int SignalRowHeight = 21;
inline constexpr int GeneratorWidth = 291;
inline constexpr int GeneratorHeight = 265 + SignalRowHeight;

// What the user is told when the playback devices changed under an open
// device, which is then closed.
inline constexpr const char* OutputDevicesChangedMessage = "The number of output audio devices\rhas changed!";

class TFGenerator : public QWidget {
    Q_OBJECT
public:
    explicit TFGenerator(QWidget* parent = nullptr);

    // Shows the window and brings it to the front. The first time it is
    // placed below and right-aligned with `keepClear` (the main window's
    // title, menu bar and control strip, in screen coordinates), on the
    // screen that holds it; later it opens where the user left it.
    void OpenClearOf(const QRect& keepClear);

    QFrame* PanelGenerator = nullptr;
    QLabel* LabGenerator = nullptr;
    QGroupBox* GrBoxGenerator = nullptr;
    QRadioButton* RBtnSine = nullptr;
    QRadioButton* RBtnWhiteNoise = nullptr;
    QRadioButton* RBtnPinkNoise = nullptr;
    QLineEdit* LabEditFr1 = nullptr;
    QLabel* LabEditFr1Label = nullptr;
    QSlider* TrBarFr1 = nullptr;
    QLineEdit* LabEditFr2 = nullptr;
    QLabel* LabEditFr2Label = nullptr;
    QSlider* TrBarFr2 = nullptr;
    QLabel* LabWOutDevices = nullptr;
    QComboBox* CmbBoxAOut = nullptr;
    QLabel* ImageOFF = nullptr;
    QLabel* ImageON = nullptr;
    QPushButton* BtnWOutOpen = nullptr;
    QLabel* LabVolume = nullptr;
    QSlider* TrBarVolume = nullptr;
    QLabel* ImageOutput = nullptr;
    QLabel* LabGetVolume = nullptr;
    QLabel* LabUnderruns = nullptr; // playback underruns; hidden while none
    QTimer* Timer1 = nullptr;
    QLabel* LabInUse = nullptr; // who plays through the engine instead; hidden while nobody

    // Another window plays through the engine: the generator's device is
    // closed when it was open, its controls are disabled and a label says
    // `by` uses it. Its own choices (signal, frequencies, device) stay as
    // they are. Release enables the controls again and reopens the device
    // when it was open before.
    void Hold(const QString& by);
    void Release();
    bool Held() const { return held; }

    int32_t GenDeviceIndex = 0; // the chosen playback device id; -1 = the server's default
    int32_t GenDeviceCount = 0; // playback devices when the list was last built
    bool FreqEditing = false;   // an edit's change is being applied

signals:
    // The output moved to another device (CmbBoxAOutChange): what the views
    // show came from the old one.
    void OutputDeviceChanged();

public slots:
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void BtnWOutOpenClick();
    void CmbBoxAOutChange(int index);
    void RBtnSineClick();
    void RBtnWhiteNoiseClick();
    void RBtnPinkNoiseClick();
    void LabEditFr1Change();
    void LabEditFr2Change();
    void TrBarFr1Change(int position);
    void TrBarFr2Change(int position);
    void TrBarVolumeChange(int position);
    void Timer1Timer();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // The edits' key filter: digits and Backspace only.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildSignalChoice();
    // Selects the signal the settings hold (GenSignal), at creation.
    void ApplyStoredSignal();
    // The underrun label from GenUnderruns.
    void ShowUnderruns();
    // The track bar at the volume the server reports.
    void ShowOutVolume(uint32_t volume);
    QLineEdit* BuildFrequencyEdit(const QString& label, int y, const QColor& colour, QLabel** labelOut);
    QSlider* BuildFrequencyTrack(const QString& hint, int x, int y);
    void FrequencyEditChange(QLineEdit* edit, std::atomic<float>& frequency, QSlider* track);
    void OpenDevice(int deviceId);
    void ShowDeviceOpen(bool open);
    void SetFreqControlsEnabled(bool enabled);
    void FillDeviceBox();
    bool placed = false;
    bool held = false;
    bool openBeforeHold = false;
};

inline TFGenerator* FGenerator = nullptr;

// Another window borrowing the engine (the distortion analyzer's tone, the
// response measurement's sweep): what the engine played and whether the
// generator window showed, as they were when it was borrowed.
struct BorrowedEngine {
    bool playing = false, sine = false, noise = false, pink = false, generatorShown = false;
};
// Holds the generator window for `by` (its device closes; it opens again on
// return) and saves the engine's flags.
BorrowedEngine BorrowEngine(const QString& by);
// Puts the flags back and releases the generator window. A generator window
// shown meanwhile gets the engine set up as its show does.
void ReturnEngine(const BorrowedEngine& borrowed);

// Where the generator's outer top-left goes: just below `keepClear`, its
// right edge at keepClear's, moved back into `screen` where it would stick out.
QPoint GeneratorPlace(const QRect& keepClear, const QSize& outer, const QRect& screen);
