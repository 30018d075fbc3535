// The levels window's calibration dialog for the recording device measured
// now: either type the level in dB SPL that 0 dBFS stands for, or put a
// calibrator on the microphone, choose its level (94.0, 114.0 or typed) and
// the channel, and "Measure": three seconds of that channel are judged as a
// calibrator's tone and, unless refused with a message, set the offset that
// makes it read the calibrator's level. "Remove" returns the device to dBFS.
// "Load Microphone File..." chooses the measurement microphone's response
// file for the device ("No File" none). Both are stored for the device by
// its name.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <optional>

class TFormLevels;

class TFormCalibrate : public QDialog {
    Q_OBJECT
public:
    explicit TFormCalibrate(TFormLevels* levels);

    QLabel* LabDevice = nullptr;
    QLabel* LabNow = nullptr;
    QLineEdit* EditFullScale = nullptr;
    QPushButton* BtnSet = nullptr;
    QComboBox* ComboReference = nullptr; // 94.0, 114.0, or typed
    QComboBox* ComboChannel = nullptr;
    QPushButton* BtnMeasure = nullptr;
    QLabel* LabProgress = nullptr;
    QPushButton* BtnRemove = nullptr;
    QPushButton* BtnClose = nullptr;
    QLabel* LabMic = nullptr;
    QPushButton* BtnLoadMic = nullptr;
    QPushButton* BtnNoMic = nullptr;
    QTimer* TimerMeasure = nullptr;

    // Shows the dialog for the device measured now.
    void Open();

public slots:
    void BtnSetClick();
    void BtnMeasureClick();
    // Follows the measurement; judges the tone once it is collected.
    void TimerMeasureTimer();
    void BtnRemoveClick();
    void BtnLoadMicClick();
    void BtnNoMicClick();

public:
    // Answers the file dialog of "Load Microphone File..." when set (tests).
    static inline std::function<QString()> OpenFileHook;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void Build();
    void ShowState();
    // Sets the calibration, tells the user when it could not be stored.
    void Apply(std::optional<double> offsetDb);
    void StopMeasuring(const QString& why);
    TFormLevels* levels;
    double reference = 0.0; // the calibrator's level being measured
};
