// The main window's device handling: listing the recording devices, and
// starting capture from the one chosen, on the wave-in path or through the
// recording library for a loopback device.
#include "app/main.h"

#include "app/main_ticks.h"
#include "capture/WaveIn.h"
#include "capture/devices.h"
#include "meters/BandsForm.h"
#include "meters/DistortionForm.h"
#include "meters/LevelsForm.h"
#include "platform/dialogs.h"
#include "platform/reclib.h"
#include "platform/soundserver.h"
#include "platform/wavedev.h"
#include "state/global.h"
#include "views/SpectForm.h"

#include <QApplication>

namespace rec = platform::rec;

std::string ReasonAfter()
{
    const std::string reason = rec::ErrorGetText();
    return reason.empty() ? std::string() : "\r\n" + reason;
}

void TFormMain::HandOverPostedMessages(bool on)
{
    if (!on) {
        platform::SetPostedMessageWaker({});
        return;
    }
    // The application outlives the main window, so a waker running on the
    // sound server's thread while the window closes still has its target.
    platform::SetPostedMessageWaker([] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] { platform::ShowPostedMessages(); }, Qt::QueuedConnection);
    });
}

namespace {
// 100 ms ticks an ended capture stream waits for a device-set change to restart it.
constexpr int EndedTicksBeforeTelling = 5;
} // namespace

void TFormMain::EnumDevices()
{
    rec::ChannelStop(RecChannel);
    RecChannel = 0;
    rec::RecordFree();

    std::vector<RecordingDevice> devices;
    rec::DeviceInfo info;
    for (int d = 1; rec::RecordGetDeviceInfo(d, &info); ++d)
        devices.push_back({info.name, info.flags});
    std::vector<std::string> waveIn, waveOut;
    platform::WaveCaps caps;
    for (int w = 0; w < NumInDevs; ++w)
        waveIn.push_back(platform::WaveInGetDevCaps(w, &caps) == platform::MMSYSERR_NOERROR ? caps.productName : "");
    for (int o = 0; o < NumOutDevs; ++o)
        waveOut.push_back(platform::WaveOutGetDevCaps(o, &caps) == platform::MMSYSERR_NOERROR ? caps.productName : "");

    const DeviceMatch m = MatchDevices(devices, waveIn, waveOut);
    DevWaveIn = m.devWaveIn;
    DevWaveOut = m.devWaveOut;
    ComboDevices = m.comboDevices;
    PlaybackLoopDev = m.playbackLoopDev;
    CmbBoxAIn->clear();
    for (const std::string& name : m.comboNames)
        CmbBoxAIn->addItem(QString::fromStdString(name));
    CmbBoxAIn->setCurrentIndex(m.defaultComboIndex);
    DefaultRecDev = m.defaultRecDev;
    SelRecDev = m.defaultRecDev;
}

void TFormMain::SelectComboDevice(int device)
{
    int index = -1;
    for (size_t k = 0; k < ComboDevices.size(); ++k)
        if (ComboDevices[k] == device)
            index = static_cast<int>(k);
    CmbBoxAIn->setCurrentIndex(index);
}

void TFormMain::ShowLoopbackControls(bool loopback)
{
    ImageMicro->setVisible(!loopback);
    ImageSpeaker->setVisible(loopback);
    TrBarVolume->setEnabled(!loopback);
    LabLevel->setText(loopback ? "LoopBack Device" : "Input Volume");
    LabLevel->adjustSize();
}

void TFormMain::StartSource()
{
    const int d = SelRecDev;
    Paused = true;
    RestartBands(); // what the bands measured came from the old device
    RestartLevels();
    RestartDistortion();
    WaveInClose();
    ticksEnded = 0;
    SelectComboDevice(d);
    rec::RecordFree();
    // Nothing of the old device stays in the spectrum's averages.
    if (FormSpect)
        FormSpect->ResetInstruments();
    if (!rec::RecordInit(d)) {
        ShowRecLibError("Can''t initialize recording device", false);
        return;
    }
    const int32_t waveIn = TableEntry(DevWaveIn, d);
    const int32_t waveOut = TableEntry(DevWaveOut, d);
    if (waveOut == -1 && waveIn >= 0) {
        ShowLoopbackControls(false);
        Loopback = false;
        QApplication::processEvents();
        WaveInOpenDev(waveIn);
    }
    if (waveIn == -1 && waveOut >= 0) {
        Loopback = true;
        ShowLoopbackControls(true);
        LabInpValue->setText("");
        RecChannel = rec::RecordStart(44100, 2, 0, RecordProc, nullptr);
        ExpectLoopbackStart();
        if (RecChannel == 0)
            platform::MessageBox(
                "Sonalyx", "Couldn't start recording!ErrorCode " + std::to_string(rec::ErrorGetCode()) + ReasonAfter(),
                platform::MsgIcon::Error);
        ClearBlock();
    }
    DeviceName = CmbBoxAIn->currentText().toStdString();
    if (FormBands && FormBands->isVisible())
        FormBands->DrawBandsFrame(); // the new device's calibration and microphone
    if (FormSpect && FormSpect->isVisible())
        FormSpect->DrawSpectFrame();
    UpdateCaption();
    RestartDropCount(); // what the old device lost while this one started is not this one's
    Paused = false;
    BtnPause->setText("Pause");
    ShowLostAudio();
}

void TFormMain::ShowLostAudio()
{
    const QString text = QString::fromStdString(LostAudioText(DeviceDroppedFrames()));
    if (text == LabLost->text() && LabLost->isVisible() == !text.isEmpty())
        return;
    LabLost->setText(text);
    LabLost->adjustSize();
    LabLost->setVisible(!text.isEmpty());
}

void TFormMain::TellWhenCaptureEnded()
{
    if (ticksEnded < 0)
        return;
    const std::string why = CaptureEndedBecause();
    ticksEnded = why.empty() ? 0 : ticksEnded + 1;
    // A removed device changes the device set too, and the lists may follow a
    // moment after the stream's end: wait a few ticks for that to restart
    // capture. A server that is gone is said in the captions instead, and a
    // refused read was told when it happened.
    if (ticksEnded < EndedTicksBeforeTelling || !platform::Server().connected())
        return;
    ticksEnded = -1;
    if (platform::IsReportedStreamFailure(why))
        return; // told as it happened
    platform::ShowMessage("Capture from \"" + DeviceName + "\" has stopped: " + why);
}

void TFormMain::CmbBoxAInChange(int index)
{
    if (RecChannel != 0)
        RecChannel = 1; // given up; the channel ends when the device is freed
    SelRecDev = (index >= 0 && static_cast<size_t>(index) < ComboDevices.size()) ? ComboDevices[index] : -1;
    LabInOut->setText(
        QString("In=%1 Out=%2").arg(TableEntry(DevWaveIn, SelRecDev)).arg(TableEntry(DevWaveOut, SelRecDev)));
    StartSource();
}
