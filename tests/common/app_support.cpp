#include "common/app_support.h"

#include "app/main.h"
#include "app/main_ticks.h"
#include "capture/WaveIn.h"
#include "platform/dialogs.h"
#include "state/global.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>

#include <cstdlib>
#include <cstring>

void ResetSharedState()
{
    Started = false;
    Paused = false;
    Loopback = false;
    NewData = false;
    LoopbackBytes = 0;
    IsInstalled = false;
    LightBackground = false;
    GenPlaying = false;
    GenRefillIdle = false;
    GenSine = false;
    GenNoise = false;
    GenPink = false;
    GenSignal = GenSignalSine;
    RecChannel = 0;
    SpectAveraging = 0;
    SpectPeakHold = false;
    SpectPeakDecay = 0;
    SpectWeighting = 0;
    DeviceName.clear();
    MediaFile.clear();
    {
        std::lock_guard<std::mutex> guard(DataLock);
        std::memset(Samples, 0, sizeof Samples);
        std::memset(Spectra, 0, sizeof Spectra);
        SpTmColumn = 0;
    }
}

AppHarness::AppHarness(bool stopInfoTimer)
{
    qputenv("XDG_CONFIG_HOME", configDir.path().toUtf8());
    platform::SetMessageHook(
        [this](const std::string&, const std::string& text, platform::MsgIcon) { messages.push_back(text); });
    ResetSharedState();
    CreateForms();
    if (stopInfoTimer)
        FormMain->TimerInfo->stop();
}

AppHarness::~AppHarness()
{
    DestroyForms();
    ResetSharedState();
    platform::SetMessageHook({});
}

int AppHarness::TicksUntilStarted(int maxTicks)
{
    for (int tick = 1; tick <= maxTicks; ++tick) {
        FormMain->TimerInfoTimer();
        QCoreApplication::processEvents();
        if (Started)
            return tick;
    }
    return 0;
}

bool WaitFor(const std::function<bool()>& cond, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!cond()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

int PeakBin(int channel)
{
    std::lock_guard<std::mutex> guard(DataLock);
    int best = 0;
    for (int bin = 1; bin <= TopBin; ++bin)
        if (Spectrum(channel, 0, bin) > Spectrum(channel, 0, best))
            best = bin;
    return best;
}

int32_t BlocksSoFar()
{
    std::lock_guard<std::mutex> guard(DataLock);
    return SpTmColumn;
}

bool WaitForBlocks(int count, int timeoutMs)
{
    const int32_t start = BlocksSoFar();
    return WaitFor([&] { return BlocksSoFar() >= start + count; }, timeoutMs);
}

bool WaitForAHeldCaptureTick(int timeoutMs)
{
    TrBarVolumeTag = 0;
    if (!WaitFor([] { return TrBarVolumeTag == 1; }, timeoutMs))
        return false;
    QCoreApplication::processEvents();
    return true;
}

bool WaitForHeldWaveInBlocks(int timeoutMs)
{
    const auto full = [](int i) { return InHeaders[i].bytesRecorded.load() == InBufBytes; };
    return WaitFor([&] { return full(0) && full(1); }, timeoutMs) && WaitForAHeldCaptureTick(timeoutMs);
}

bool WaitForTimerTicks(QTimer* timer, int ticks, int timeoutMs)
{
    QSignalSpy fired(timer, &QTimer::timeout);
    return WaitFor([&] { return fired.count() >= ticks; }, timeoutMs);
}

bool ChooseSource(const QString& device)
{
    const int index = FormMain->CmbBoxAIn->findText(device);
    if (index < 0)
        return false;
    FormMain->CmbBoxAInChange(index);
    return true;
}

platform::InProcessServer* InstallMicAndSpeakers(platform::SignalFn tone)
{
    auto server = std::make_unique<platform::InProcessServer>();
    platform::InProcessServer* raw = server.get();
    raw->addSource("test_mic", "Test Microphone", std::move(tone));
    raw->addSink("test_speakers", "Test Speakers");
    raw->setDefaultSource("test_mic");
    raw->setDefaultSink("test_speakers");
    platform::SetServer(std::move(server));
    return raw;
}
