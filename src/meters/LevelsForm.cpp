#include "meters/LevelsForm.h"
#include "meters/DistortionForm.h"

#include "analysis/plotgeometry.h"
#include "measure/calibration.h"
#include "measure/levelmeter.h"
#include "measure/loudness.h"
#include "measure/miccorrection.h"
#include "meters/BandsForm.h"
#include "meters/CalibrateForm.h"
#include "platform/calibrations.h"
#include "platform/dialogs.h"
#include "state/global.h"
#include "views/SpectForm.h"
#include "views/framepaint.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// The meters of both channels and the loudness of the pair.
struct Meters {
    explicit Meters(measure::Weighting weighting)
        : channel{measure::ChannelLevelMeter(weighting), measure::ChannelLevelMeter(weighting)}
    {
    }
    measure::ChannelLevelMeter channel[2];
    measure::LoudnessMeter loudness;
    std::vector<int16_t> interleaved; // the block as the loudness meter takes it
    // A calibrator's tone being collected: its channel (-1: none) and samples.
    int captureChannel = -1;
    std::vector<int16_t> capture;
    // While logging: the A and C meters of each second, the frames they
    // took in the second begun, and the seconds finished, in dBFS, for the
    // UI to write.
    struct LogMeters {
        measure::ChannelLevelMeter a[2]{measure::ChannelLevelMeter(measure::Weighting::A),
                                        measure::ChannelLevelMeter(measure::Weighting::A)};
        measure::ChannelLevelMeter c[2]{measure::ChannelLevelMeter(measure::Weighting::C),
                                        measure::ChannelLevelMeter(measure::Weighting::C)};
        std::size_t frames = 0;
        std::vector<measure::LevelLogLine> finished;
        bool primed = false;
        // The microphone's fine band powers over the second begun.
        measure::BandPowerSum micPowers[2];
    };
    std::unique_ptr<LogMeters> log;
    // The block fed last: a log begun now starts its filters on it, so that
    // its first second holds no start transient of theirs.
    std::vector<int16_t> lastBlock[2];
    // While the device has a microphone file: each channel's fine bands,
    // whose powers weigh the response taken out of the weighted levels.
    std::unique_ptr<measure::MicCorrection> mic[2];
    bool HasMic() const { return mic[0] != nullptr; }
    void SetMic(const measure::MicResponse& response)
    {
        for (auto& correction : mic)
            correction = response.Empty() ? nullptr : std::make_unique<measure::MicCorrection>(response);
    }
    void RestartMic()
    {
        for (auto& correction : mic)
            if (correction)
                correction->Restart();
    }
};

constexpr std::size_t FramesPerLogLine = static_cast<std::size_t>(measure::SampleRate);

std::optional<double> Logged(double db)
{
    return db > measure::SilenceDb ? std::optional<double>(db) : std::nullopt;
}

void FeedMic(Meters& all, const int16_t* left, const int16_t* right, std::size_t count)
{
    const int16_t* channels[2] = {left, right};
    for (int channel = 0; channel < 2; ++channel)
        all.mic[channel]->Process(channels[channel], count);
}

void ShiftLevel(double& db, double by)
{
    if (db > measure::SilenceDb)
        db += by;
}

// Takes the microphone's response out of the weighted levels, as their
// band powers weigh it. Caller holds meterLock.
void CorrectForMic(const Meters& all, measure::ChannelLevels (&levels)[2])
{
    if (!all.HasMic())
        return;
    const measure::Weighting weighting = all.channel[0].CurrentWeighting();
    for (int channel = 0; channel < 2; ++channel) {
        const double now = all.mic[channel]->LastDb(weighting);
        const double sinceReset = all.mic[channel]->SinceRestartDb(weighting);
        measure::ChannelLevels& channelLevels = levels[channel];
        for (double* db :
             {&channelLevels.fastDb, &channelLevels.slowDb, &channelLevels.fastMaxDb, &channelLevels.slowMaxDb})
            ShiftLevel(*db, now);
        ShiftLevel(channelLevels.leqDb, sinceReset);
    }
}

// The microphone's response taken out of a logged second's A-weighted
// levels, as that second's band powers weigh it. The C-weighted peak stays
// as read: a peak is one instant's waveform, which no band power describes
// (the window's peaks are not corrected either).
void CorrectLogLineForMic(const Meters& all, measure::LevelLogLine& line)
{
    if (!all.HasMic())
        return;
    for (int channel = 0; channel < 2; ++channel) {
        const double by = all.mic[channel]->Db(measure::Weighting::A, all.log->micPowers[channel]);
        for (std::optional<double>* db : {&line.laeq[channel], &line.lafmax[channel]})
            if (*db)
                **db += by;
    }
}

// Feeds the log's meters and finishes a line at every whole second.
void FeedLog(Meters& all, const int16_t* left, const int16_t* right, std::size_t count)
{
    Meters::LogMeters& log = *all.log;
    const int16_t* channels[2] = {left, right};
    if (!log.primed) {
        for (int channel = 0; channel < 2; ++channel) {
            const std::vector<int16_t>& before = all.lastBlock[channel];
            log.a[channel].Process(before.data(), before.size());
            log.c[channel].Process(before.data(), before.size());
            log.a[channel].Reset();
            log.c[channel].Reset();
        }
        log.primed = true;
    }
    for (std::size_t done = 0; done < count;) {
        const std::size_t part = std::min(count - done, FramesPerLogLine - log.frames);
        for (int channel = 0; channel < 2; ++channel) {
            log.a[channel].Process(channels[channel] + done, part);
            log.c[channel].Process(channels[channel] + done, part);
            if (all.HasMic()) // the block's spectrum, for its part of the second
                log.micPowers[channel].Add(all.mic[channel]->LastPowers(), part);
        }
        done += part;
        log.frames += part;
        if (log.frames < FramesPerLogLine)
            break;
        measure::LevelLogLine line;
        line.time = QDateTime::currentDateTime().toString(Qt::ISODate).toStdString();
        for (int channel = 0; channel < 2; ++channel) {
            line.laeq[channel] = Logged(log.a[channel].Levels().leqDb);
            line.lafmax[channel] = Logged(log.a[channel].Levels().fastMaxDb);
            line.lcpeak[channel] = Logged(log.c[channel].Levels().weightedPeakMaxDb);
        }
        CorrectLogLineForMic(all, line);
        for (int channel = 0; channel < 2; ++channel) {
            log.a[channel].Reset();
            log.c[channel].Reset();
            log.micPowers[channel].Clear();
        }
        log.finished.push_back(line);
        log.frames = 0;
    }
}

const std::size_t CalibratorFrames = static_cast<std::size_t>(
    std::lround(measure::CalibratorSeconds * measure::SampleRate));

std::mutex meterLock; // the meters below, between the block path and the UI
std::unique_ptr<Meters> meters;
std::atomic<bool> feeding{false}; // raised while the window is shown

measure::Weighting StoredWeighting()
{
    return static_cast<measure::Weighting>(std::clamp(LevelsWeighting, 0, measure::WeightingCount - 1));
}

// The meters with the stored weighting; made on first use. Caller holds meterLock.
Meters& TheMeters()
{
    if (!meters)
        meters = std::make_unique<Meters>(StoredWeighting());
    return *meters;
}

// The octave and spectrum views read the stored calibration and microphone
// file of the device at each frame: new ones are drawn when they change; the
// distortion analyzer reads it again.
void RedrawBandsFrame()
{
    if (FormDistortion && FormDistortion->isVisible())
        FormDistortion->FollowCalibration();
    if (FormBands && FormBands->isVisible()) {
        FormBands->DrawBandsFrame();
        FormBands->InvRectBands();
    }
    if (FormSpect && FormSpect->isVisible()) {
        FormSpect->DrawSpectFrame();
        FormSpect->InvRectSpect();
    }
}

QColor SchemeColor(int entry)
{
    return QColor(SchemeR[entry], SchemeG[entry], SchemeB[entry]);
}

// The strip of controls above the panel.
constexpr int StripHeight = 30;

void DrawMeterLine(QPainter& painter, const levelsview::MeterLine& line, const levelsview::MeterLayout& layout,
                   const levelsview::LinePlace& place, const QFont& small, const QFont& large)
{
    const int channelColours[2] = {ColorLeft, ColorRight};
    const QColor text = SchemeColor(ColorGridEmphasised);
    const QColor colour = line.channelIndex >= 0 ? SchemeColor(channelColours[line.channelIndex]) : text;
    const QColor alarm(220, 30, 30);
    const QRect row(0, place.top, painter.device()->width(), place.height);
    painter.setFont(small);
    painter.setPen(text);
    if (!line.caption.empty() && line.channelIndex <= 0)
        painter.drawText(QRect(layout.captionLeft, row.top(), layout.channelLeft - layout.captionLeft, row.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(line.caption));
    painter.setPen(colour);
    painter.drawText(QRect(layout.channelLeft, row.top(), layout.barLeft - layout.channelLeft, row.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(line.channel));
    const int length = layout.barRight - layout.barLeft + 1;
    if (line.bar && length > 0) {
        const int barTop = row.top() + row.height() / 4, barHeight = std::max(1, row.height() / 2);
        painter.fillRect(layout.barLeft, barTop, length, barHeight, SchemeColor(ColorGrid));
        const int fill = levelsview::BarFill(line.value, line.barLowDb, line.barHighDb, length);
        if (fill > 0)
            painter.fillRect(layout.barLeft, barTop, fill, barHeight, colour);
        if (line.held) {
            const int held = levelsview::BarFill(line.held, line.barLowDb, line.barHighDb, length);
            if (held > 0)
                painter.fillRect(layout.barLeft + held - 2, row.top() + 1, 2, std::max(1, row.height() - 2),
                                 line.alarm ? alarm : colour);
        }
    }
    painter.setFont(large);
    painter.setPen(colour);
    painter.drawText(QRect(layout.numberLeft, row.top() - 4, layout.numberRight - layout.numberLeft, row.height() + 8),
                     Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(line.number));
    painter.setFont(small);
    painter.setPen(text);
    painter.drawText(QRect(layout.unitLeft, row.top(), layout.noteLeft - layout.unitLeft, row.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(line.unit));
    painter.setPen(line.alarm ? alarm : text);
    painter.drawText(QRect(layout.noteLeft, row.top(), painter.device()->width() - layout.noteLeft, row.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(line.note));
}

} // namespace

void FeedLevels(const int16_t* left, const int16_t* right, int frames)
{
    if (!feeding.load() || frames <= 0)
        return;
    std::lock_guard<std::mutex> guard(meterLock);
    // The window made the meters, from the UI thread's settings; without
    // it (the window gone) there is nothing to feed.
    if (!meters)
        return;
    const auto count = static_cast<std::size_t>(frames);
    meters->channel[0].Process(left, count);
    meters->channel[1].Process(right, count);
    meters->interleaved.resize(2 * count);
    for (std::size_t f = 0; f < count; ++f) {
        meters->interleaved[2 * f] = left[f];
        meters->interleaved[2 * f + 1] = right[f];
    }
    meters->loudness.Process(meters->interleaved.data(), count);
    if (meters->HasMic()) // before the log, which weighs the block's band powers
        FeedMic(*meters, left, right, count);
    if (meters->log) {
        const std::size_t before = meters->log->finished.size();
        FeedLog(*meters, left, right, count);
        if (meters->log->finished.size() > before) { // the loudness as it is at the end of the second
            const measure::LoudnessLevels loudness = meters->loudness.Levels();
            for (std::size_t i = before; i < meters->log->finished.size(); ++i) {
                meters->log->finished[i].momentaryLufs = loudness.momentaryLufs;
                meters->log->finished[i].shortTermLufs = loudness.shortTermLufs;
            }
        }
    }
    meters->lastBlock[0].assign(left, left + count);
    meters->lastBlock[1].assign(right, right + count);
    if (meters->captureChannel >= 0) {
        const int16_t* source = meters->captureChannel == 0 ? left : right;
        const std::size_t taken = std::min(count, CalibratorFrames - meters->capture.size());
        meters->capture.insert(meters->capture.end(), source, source + taken);
    }
}

void RestartLevels()
{
    std::lock_guard<std::mutex> guard(meterLock);
    if (!meters)
        return;
    // Nothing of the old device stays, the loudness meter's past included;
    // the window chooses the new device's microphone when it next paints.
    auto fresh = std::make_unique<Meters>(meters->channel[0].CurrentWeighting());
    if (meters->HasMic())
        fresh->SetMic(meters->mic[0]->Response());
    meters = std::move(fresh);
}

TFormLevels::TFormLevels(QWidget* parent)
    : TViewForm("Levels", {&LevelsX, &LevelsY, &LevelsW, &LevelsH, &LevelsShow}, QSize(400, 300), parent)
{
    setFont(FrameFont("MS Sans Serif", 11));
    resize(LevelsW, LevelsH);
    PanelLevels = new TPlotSurface("Levels", this);
    PanelLevels->SetCpuDrawing(true);
    PanelLevels->OnRender = [this] { RenderLevels(); };
    BuildStrip();
    AttachReadout(PanelLevels);
    std::lock_guard<std::mutex> guard(meterLock);
    TheMeters();
}

TFormLevels::~TFormLevels()
{
    feeding = false;
    std::lock_guard<std::mutex> guard(meterLock);
    meters.reset();
}

void TFormLevels::BuildStrip()
{
    LabWeighting = new QLabel("Weighting", this);
    LabWeighting->setFont(FrameFont("Tahoma", 11));
    LabWeighting->setGeometry(6, 4, 56, 22);
    ComboWeighting = new QComboBox(this);
    ComboWeighting->setFont(FrameFont("Tahoma", 11));
    ComboWeighting->setGeometry(64, 4, 50, 22);
    for (int i = 0; i < measure::WeightingCount; ++i)
        ComboWeighting->addItem(measure::WeightingName(static_cast<measure::Weighting>(i)));
    ComboWeighting->setCurrentIndex(std::clamp(LevelsWeighting, 0, measure::WeightingCount - 1));
    BtnReset = new QPushButton("Reset", this);
    BtnReset->setFont(FrameFont("Tahoma", 11));
    BtnReset->setGeometry(122, 4, 66, 22);
    BtnCalibrate = new QPushButton("Calibrate...", this);
    BtnCalibrate->setFont(FrameFont("Tahoma", 11));
    BtnCalibrate->setGeometry(196, 4, 84, 22);
    LabCalibration = new QLabel(this); // placed by the frame
    LabCalibration->setFont(FrameFont("Tahoma", 11));
    connect(ComboWeighting, &QComboBox::currentIndexChanged, this, &TFormLevels::ComboWeightingChange);
    connect(BtnReset, &QPushButton::clicked, this, &TFormLevels::BtnResetClick);
    connect(BtnCalibrate, &QPushButton::clicked, this, &TFormLevels::BtnCalibrateClick);
    BtnLog = new QPushButton("Log to File...", this);
    BtnLog->setFont(FrameFont("Tahoma", 11));
    BtnLog->setGeometry(288, 4, 90, 22);
    connect(BtnLog, &QPushButton::clicked, this, &TFormLevels::BtnLogClick);
    TimerLog = new QTimer(this);
    TimerLog->setInterval(250);
    connect(TimerLog, &QTimer::timeout, this, &TFormLevels::TimerLogTimer);
}

std::string TFormLevels::StartLog(const QString& path)
{
    StopLog();
    FollowDevice();
    logCalibration = calibration;
    if (!log.Open(path.toStdString(), levelsview::PeakUnit(logCalibration)))
        return log.Error();
    logPath = path;
    {
        std::lock_guard<std::mutex> guard(meterLock);
        TheMeters().log = std::make_unique<Meters::LogMeters>();
    }
    BtnLog->setText("Stop Log");
    TimerLog->start();
    return {};
}

void TFormLevels::StopLog()
{
    TimerLog->stop();
    std::vector<measure::LevelLogLine> last;
    {
        std::lock_guard<std::mutex> guard(meterLock);
        if (meters && meters->log)
            last = std::move(meters->log->finished);
        if (meters)
            meters->log.reset();
    }
    for (const measure::LevelLogLine& line : last)
        if (log.IsOpen())
            log.Write(line);
    log.Close();
    BtnLog->setText("Log to File...");
}

void TFormLevels::BtnLogClick()
{
    if (Logging()) {
        StopLog();
        return;
    }
    const QString path = AskSaveFile("levels.csv", "CSV files (*.csv)");
    if (path.isEmpty())
        return;
    if (const std::string why = StartLog(path); !why.empty())
        platform::ShowMessage("The level log " + path.toStdString() + " could not be started: " + why);
}

void TFormLevels::TimerLogTimer()
{
    if (!log.IsOpen())
        return;
    std::vector<measure::LevelLogLine> lines;
    bool deviceChanged = false;
    {
        std::lock_guard<std::mutex> guard(meterLock);
        deviceChanged = !meters || !meters->log;
        if (!deviceChanged)
            lines.swap(meters->log->finished);
    }
    for (measure::LevelLogLine& line : lines) {
        for (int channel = 0; channel < 2; ++channel) {
            const auto shown = [&](std::optional<double> db,
                                   double (*convert)(double, const levelsview::Calibration&)) {
                return db ? std::optional<double>(convert(*db, logCalibration)) : std::nullopt;
            };
            line.laeq[channel] = shown(line.laeq[channel], levelsview::RmsShown);
            line.lafmax[channel] = shown(line.lafmax[channel], levelsview::RmsShown);
            line.lcpeak[channel] = shown(line.lcpeak[channel], levelsview::PeakShown);
        }
        if (!log.Write(line)) {
            const std::string why = log.Error();
            StopLog();
            platform::ShowMessage("The level log " + logPath.toStdString() + " stopped: " + why +
                                  ". What was written before is kept.");
            return;
        }
    }
    if (deviceChanged) {
        StopLog();
        platform::ShowMessage("The level log " + logPath.toStdString() +
                              " stopped: the recording device changed. What was written is kept.");
    }
}

void TFormLevels::FollowDevice()
{
    if (calibratedDevice == DeviceName)
        return;
    calibratedDevice = DeviceName;
    std::string error;
    const platform::DeviceCalibration stored = platform::LoadCalibration(DeviceName, &error);
    calibration = stored.offsetDb;
    micFile = stored.micFile;
    micResponse = {};
    if (!micFile.empty()) {
        const measure::MicParse parse = measure::LoadMicResponse(micFile);
        if (parse.ok)
            micResponse = parse.response;
        else if (error.empty())
            error = "the microphone file of \"" + DeviceName + "\" is not used: " + parse.message;
    }
    ShowCalibrationText();
    ApplyMicToMeters();
    if (!error.empty()) // said once, not at every paint: the device is followed now
        QMetaObject::invokeMethod(
            this, [error] { platform::ShowMessage("The calibration could not be read: " + error); },
            Qt::QueuedConnection);
}

const std::string& TFormLevels::MicFile()
{
    FollowDevice();
    return micFile;
}

const measure::MicResponse& TFormLevels::MicResponse()
{
    FollowDevice();
    return micResponse;
}

std::string TFormLevels::LoadMicFile(const std::string& path, std::string* storeFailure)
{
    FollowDevice();
    const measure::MicParse parse = measure::LoadMicResponse(path);
    if (!parse.ok)
        return parse.message;
    micFile = path;
    micResponse = parse.response;
    ApplyMicToMeters();
    *storeFailure = platform::SaveCalibration(DeviceName, {calibration, micFile});
    RedrawBandsFrame();
    return {};
}

std::string TFormLevels::RemoveMicFile()
{
    FollowDevice();
    micFile.clear();
    micResponse = {};
    ApplyMicToMeters();
    const std::string failure = platform::SaveCalibration(DeviceName, {calibration, micFile});
    RedrawBandsFrame();
    return failure;
}

void TFormLevels::ApplyMicToMeters()
{
    std::lock_guard<std::mutex> guard(meterLock);
    Meters& all = TheMeters();
    const bool same = all.HasMic()
                          ? all.mic[0]->Response().hz == micResponse.hz && all.mic[0]->Response().db == micResponse.db
                          : micResponse.Empty();
    if (!same)
        all.SetMic(micResponse);
}

void TFormLevels::ShowCalibrationText()
{
    // Right of the buttons, where it fits whole; the units say it too.
    LabCalibration->setText(QString::fromStdString(levelsview::CalibrationText(calibration)));
    const int room = width() - 392;
    LabCalibration->setGeometry(388, 4, std::max(0, room), 22);
    LabCalibration->setVisible(LabCalibration->sizeHint().width() <= room);
}

levelsview::Calibration TFormLevels::DeviceCalibration()
{
    FollowDevice();
    return calibration;
}

std::string TFormLevels::SetDeviceCalibration(levelsview::Calibration offset)
{
    FollowDevice();
    calibration = offset;
    ShowCalibrationText();
    InvRectLevels();
    const std::string failure = platform::SaveCalibration(DeviceName, {offset, micFile});
    RedrawBandsFrame();
    return failure;
}

void TFormLevels::StartCalibratorCapture(int channel)
{
    std::lock_guard<std::mutex> guard(meterLock);
    Meters& all = TheMeters();
    all.captureChannel = std::clamp(channel, 0, 1);
    all.capture.clear();
    all.capture.reserve(CalibratorFrames);
}

std::optional<double> TFormLevels::CalibratorCaptureSeconds() const
{
    std::lock_guard<std::mutex> guard(meterLock);
    if (!meters || meters->captureChannel < 0)
        return std::nullopt;
    return static_cast<double>(meters->capture.size()) / measure::SampleRate;
}

std::vector<int16_t> TFormLevels::TakeCalibratorCapture()
{
    std::lock_guard<std::mutex> guard(meterLock);
    if (!meters || meters->captureChannel < 0 || meters->capture.size() < CalibratorFrames)
        return {};
    meters->captureChannel = -1;
    return std::move(meters->capture);
}

void TFormLevels::CancelCalibratorCapture()
{
    std::lock_guard<std::mutex> guard(meterLock);
    if (meters) {
        meters->captureChannel = -1;
        meters->capture = {};
    }
}

void TFormLevels::BtnCalibrateClick()
{
    if (!FormCalibrate)
        FormCalibrate = new TFormCalibrate(this);
    FormCalibrate->Open();
}

void TFormLevels::ComboWeightingChange(int index)
{
    LevelsWeighting = std::clamp(index, 0, measure::WeightingCount - 1);
    {
        std::lock_guard<std::mutex> guard(meterLock);
        Meters& all = TheMeters();
        for (measure::ChannelLevelMeter& channel : all.channel)
            channel.SetWeighting(StoredWeighting());
        all.RestartMic(); // the levels start again, and so does Leq's correction
    }
    InvRectLevels();
}

void TFormLevels::BtnResetClick()
{
    {
        std::lock_guard<std::mutex> guard(meterLock);
        Meters& all = TheMeters();
        for (measure::ChannelLevelMeter& channel : all.channel)
            channel.Reset();
        all.loudness.Reset();
        all.RestartMic();
    }
    InvRectLevels();
}

void TFormLevels::DrawLevelsFrame()
{
    EnsureCanvas();
    const QRect panel(0, StripHeight, width(), std::max(1, height() - StripHeight));
    PanelLevels->setGeometry(panel);
    ShowCalibrationText();
    {
        const QSignalBlocker block(ComboWeighting);
        ComboWeighting->setCurrentIndex(std::clamp(LevelsWeighting, 0, measure::WeightingCount - 1));
    }
    QPainter painter(&Canvas());
    ClearFrameCanvas(painter, palette().window().color());
    painter.end();
    SetFrameMarker(Canvas());
    update(QRegion(rect()) - panel);
}

void TFormLevels::InvRectLevels()
{
    PanelLevels->Invalidate();
}

void TFormLevels::RenderLevels()
{
    FollowDevice();
    readings.calibration = calibration;
    {
        std::lock_guard<std::mutex> guard(meterLock);
        const Meters& all = TheMeters();
        for (int channel = 0; channel < 2; ++channel)
            readings.channels[channel] = all.channel[channel].Levels();
        CorrectForMic(all, readings.channels);
        readings.loudness = all.loudness.Levels();
        readings.weighting = all.channel[0].CurrentWeighting();
    }
    QImage& picture = PanelLevels->Picture();
    const PlotRgba clear = SchemeClearColor(LightBackground);
    picture.fill(QColor::fromRgbF(clear.r, clear.g, clear.b));
    const std::vector<levelsview::MeterLine> lines = levelsview::MeterLines(readings);
    const levelsview::MeterLayout layout = levelsview::LayoutMeters(
        picture.width(), picture.height(), levelsview::ChannelLineCount, levelsview::LoudnessLineCount);
    QFont large = FrameFont("Tahoma", layout.numberPixels);
    large.setBold(true);
    const QFont small = FrameFont("Tahoma", std::min(12, std::max(8, layout.numberPixels - 4)));
    QPainter painter(&picture);
    const std::size_t count = std::min(lines.size(), layout.lines.size());
    for (std::size_t i = 0; i < count; ++i)
        DrawMeterLine(painter, lines[i], layout, layout.lines[i], small, large);
}

void TFormLevels::FormShow()
{
    TViewForm::FormShow();
    setWindowTitle("Levels");
    FollowDevice();
    DrawLevelsFrame();
}

void TFormLevels::showEvent(QShowEvent* event)
{
    TViewForm::showEvent(event);
    feeding = true;
}

void TFormLevels::hideEvent(QHideEvent* event)
{
    feeding = false;
    if (Logging() && !isMinimized())
        StopLog(); // closed: nothing more is measured
    TViewForm::hideEvent(event);
}

void TFormLevels::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_R && event->modifiers() == Qt::NoModifier) {
        BtnResetClick();
        return;
    }
    TViewForm::keyPressEvent(event);
}
