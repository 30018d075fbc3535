#include "meters/CalibrateForm.h"

#include "measure/calibration.h"
#include "meters/LevelsForm.h"
#include "meters/levelsgeometry.h"
#include "platform/dialogs.h"
#include "state/global.h"
#include "views/framepaint.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHideEvent>

#include <cstdio>

namespace {

QString Number(double value)
{
    return QString::fromStdString(levelsview::LevelText(value));
}

} // namespace

TFormCalibrate::TFormCalibrate(TFormLevels* levels_)
    : QDialog(levels_, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), levels(levels_)
{
    setWindowTitle("Calibrate");
    setFont(FrameFont("Tahoma", 11));
    setFixedSize(420, 222);
    Build();
}

void TFormCalibrate::Build()
{
    const auto label = [this](const QString& text, const QRect& place) {
        auto* created = new QLabel(text, this);
        created->setGeometry(place);
        return created;
    };
    LabDevice = label("", QRect(10, 8, 400, 20));
    LabNow = label("", QRect(10, 28, 400, 20));
    label("0 dBFS stands for", QRect(10, 60, 110, 22));
    EditFullScale = new QLineEdit(this);
    EditFullScale->setGeometry(124, 60, 60, 22);
    label("dB SPL", QRect(190, 60, 50, 22));
    BtnSet = new QPushButton("Set", this);
    BtnSet->setGeometry(330, 60, 80, 24);
    label("Calibrator at", QRect(10, 92, 110, 22));
    ComboReference = new QComboBox(this);
    ComboReference->setEditable(true);
    ComboReference->addItems({"94.0", "114.0"});
    ComboReference->setGeometry(124, 92, 60, 22);
    label("dB SPL on", QRect(190, 92, 60, 22));
    ComboChannel = new QComboBox(this);
    ComboChannel->addItems({"Left", "Right"});
    ComboChannel->setGeometry(252, 92, 70, 22);
    BtnMeasure = new QPushButton("Measure", this);
    BtnMeasure->setGeometry(330, 92, 80, 24);
    LabProgress = label("", QRect(10, 124, 400, 20));
    LabMic = label("", QRect(10, 150, 190, 22));
    BtnLoadMic = new QPushButton("Load Microphone File...", this);
    BtnLoadMic->setGeometry(204, 150, 140, 24);
    BtnNoMic = new QPushButton("No File", this);
    BtnNoMic->setGeometry(350, 150, 60, 24);
    BtnRemove = new QPushButton("Remove", this);
    BtnRemove->setGeometry(10, 188, 80, 24);
    BtnClose = new QPushButton("Close", this);
    BtnClose->setGeometry(330, 188, 80, 24);
    TimerMeasure = new QTimer(this);
    TimerMeasure->setInterval(100);
    connect(BtnSet, &QPushButton::clicked, this, &TFormCalibrate::BtnSetClick);
    connect(BtnMeasure, &QPushButton::clicked, this, &TFormCalibrate::BtnMeasureClick);
    connect(BtnRemove, &QPushButton::clicked, this, &TFormCalibrate::BtnRemoveClick);
    connect(BtnLoadMic, &QPushButton::clicked, this, &TFormCalibrate::BtnLoadMicClick);
    connect(BtnNoMic, &QPushButton::clicked, this, &TFormCalibrate::BtnNoMicClick);
    connect(BtnClose, &QPushButton::clicked, this, &QDialog::close);
    connect(TimerMeasure, &QTimer::timeout, this, &TFormCalibrate::TimerMeasureTimer);
}

void TFormCalibrate::Open()
{
    LabProgress->clear();
    ShowState();
    show();
    raise();
    activateWindow();
}

void TFormCalibrate::ShowState()
{
    const levelsview::Calibration now = levels->DeviceCalibration();
    LabDevice->setText("Device: " + QString::fromStdString(DeviceName));
    LabNow->setText(QString::fromStdString(levelsview::CalibrationText(now)));
    if (now && EditFullScale->text().isEmpty())
        EditFullScale->setText(Number(*now));
    BtnRemove->setEnabled(now.has_value());
    const std::string& mic = levels->MicFile();
    LabMic->setText("Microphone: " +
                    (mic.empty() ? QString("none") : QFileInfo(QString::fromStdString(mic)).fileName()));
    LabMic->setToolTip(QString::fromStdString(mic));
    BtnNoMic->setEnabled(!mic.empty());
}

void TFormCalibrate::BtnLoadMicClick()
{
    const QString path = OpenFileHook ? OpenFileHook()
                                      : QFileDialog::getOpenFileName(this, "Load Microphone File", QString(),
                                                                     "Response files (*.txt *.frd *.cal *.csv);;"
                                                                     "All files (*)");
    if (path.isEmpty())
        return;
    std::string storeFailure;
    const std::string refusal = levels->LoadMicFile(path.toStdString(), &storeFailure);
    ShowState();
    if (!refusal.empty())
        platform::ShowMessage("The microphone file " + path.toStdString() + " was not loaded: " + refusal);
    else if (!storeFailure.empty())
        platform::ShowMessage("The calibration of \"" + DeviceName + "\" could not be stored: " + storeFailure);
}

void TFormCalibrate::BtnNoMicClick()
{
    const std::string failure = levels->RemoveMicFile();
    ShowState();
    if (!failure.empty())
        platform::ShowMessage("The calibration of \"" + DeviceName + "\" could not be stored: " + failure);
}

void TFormCalibrate::Apply(std::optional<double> offsetDb)
{
    const std::string failure = levels->SetDeviceCalibration(offsetDb);
    ShowState();
    if (!failure.empty())
        platform::ShowMessage("The calibration of \"" + DeviceName + "\" could not be stored: " + failure);
}

void TFormCalibrate::BtnSetClick()
{
    const std::optional<double> level = levelsview::ParseTypedLevel(EditFullScale->text().toStdString());
    if (!level) {
        platform::ShowMessage("Type the sound pressure level that 0 dBFS stands for, a number of dB SPL above 0 "
                              "and up to 200, such as 120.0.");
        return;
    }
    Apply(measure::OffsetForFullScale(*level));
    LabProgress->setText("Set by hand.");
}

void TFormCalibrate::BtnMeasureClick()
{
    const std::optional<double> level = levelsview::ParseTypedLevel(ComboReference->currentText().toStdString());
    if (!level) {
        platform::ShowMessage("Type the calibrator's level, a number of dB SPL above 0 and up to 200, "
                              "such as 94.0 or 114.0.");
        return;
    }
    reference = *level;
    levels->StartCalibratorCapture(ComboChannel->currentIndex());
    BtnMeasure->setEnabled(false);
    LabProgress->setText("Measuring...");
    TimerMeasure->start();
}

void TFormCalibrate::StopMeasuring(const QString& why)
{
    TimerMeasure->stop();
    BtnMeasure->setEnabled(true);
    LabProgress->setText(why);
}

void TFormCalibrate::TimerMeasureTimer()
{
    if (!TimerMeasure->isActive())
        return; // a tick queued before the measurement ended
    const std::optional<double> seconds = levels->CalibratorCaptureSeconds();
    if (!seconds) {
        StopMeasuring("The measurement stopped: the recording device changed.");
        return;
    }
    if (!levels->isVisible()) { // nothing is measured while the levels window is closed
        levels->CancelCalibratorCapture();
        StopMeasuring("The measurement stopped: the Levels window was closed.");
        return;
    }
    const std::vector<int16_t> tone = levels->TakeCalibratorCapture();
    if (tone.empty()) {
        char text[64];
        std::snprintf(text, sizeof text, "Measuring: %.1f of %.1f s", *seconds, measure::CalibratorSeconds);
        LabProgress->setText(Paused ? QString("Paused.") : QString(text));
        return;
    }
    const measure::CalibrationVerdict verdict = measure::JudgeCalibratorTone(tone.data(), tone.size(), 1, reference);
    if (verdict.refusal != measure::CalibrationRefusal::None) {
        StopMeasuring("Refused.");
        platform::ShowMessage(verdict.message);
        return;
    }
    StopMeasuring("The tone read " + Number(verdict.measuredDbfs) + " dBFS: it now reads " + Number(reference) +
                  " dB SPL.");
    Apply(verdict.offsetDb);
}

void TFormCalibrate::BtnRemoveClick()
{
    Apply(std::nullopt);
    EditFullScale->clear();
    LabProgress->setText("Removed: levels in dBFS.");
}

void TFormCalibrate::hideEvent(QHideEvent* event)
{
    if (TimerMeasure->isActive()) {
        levels->CancelCalibratorCapture();
        StopMeasuring("");
    }
    QDialog::hideEvent(event);
}
