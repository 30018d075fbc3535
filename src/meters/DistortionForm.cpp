#include "meters/DistortionForm.h"

#include "meters/distortionresult.h"

#include "analysis/plotgeometry.h"
#include "generator/Generator.h"
#include "platform/atomicfile.h"
#include "platform/calibrations.h"
#include "platform/dialogs.h"
#include "platform/wavedev.h"
#include "playback/WaveOut.h"
#include "state/global.h"
#include "views/framepaint.h"
#include "views/plotsurface.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <optional>
#include <utility>

namespace {

// The newest samples of both channels, written in a circle.
struct Ring {
    std::vector<int16_t> samples[2]{std::vector<int16_t>(DistortionRingFrames),
                                    std::vector<int16_t>(DistortionRingFrames)};
    std::size_t write = 0;  // where the next frame goes
    std::size_t filled = 0; // frames held, up to DistortionRingFrames
    uint64_t fed = 0;       // frames fed since the window was made
};

std::mutex ringLock; // the ring, between the block path and the UI
std::unique_ptr<Ring> ring;
std::atomic<bool> feeding{false}; // raised while the window is shown

constexpr double SampleRate = 44100.0;
// The residual waveform's length: about 70 ms.
constexpr std::size_t ResidualFrames = 3072;
// The two rows of controls above the panel.
constexpr int StripHeight = 58;

// The newest `count` frames of one channel, oldest first; empty while the
// ring holds fewer. Caller holds ringLock.
std::vector<int16_t> Newest(const Ring& held, int channel, std::size_t count)
{
    if (held.filled < count)
        return {};
    std::vector<int16_t> out(count);
    const std::vector<int16_t>& source = held.samples[channel];
    const std::size_t start = (held.write + DistortionRingFrames - count) % DistortionRingFrames;
    const std::size_t firstPart = std::min(count, DistortionRingFrames - start);
    std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(start), firstPart, out.begin());
    std::copy_n(source.begin(), count - firstPart, out.begin() + static_cast<std::ptrdiff_t>(firstPart));
    return out;
}

QColor SchemeColor(int entry)
{
    return QColor(SchemeR[entry], SchemeG[entry], SchemeB[entry]);
}

QColor ClearColor()
{
    const PlotRgba clear = SchemeClearColor(LightBackground);
    return QColor::fromRgbF(clear.r, clear.g, clear.b);
}

// The markers stand apart from both channels' traces in either scheme.
QColor MarkerColor()
{
    return LightBackground ? QColor(190, 0, 150) : QColor(255, 110, 230);
}

int SizeIndex(int size)
{
    const auto* found = std::find(std::begin(measure::DistortionSizes), std::end(measure::DistortionSizes), size);
    return found == std::end(measure::DistortionSizes)
               ? 1
               : static_cast<int>(std::distance(std::begin(measure::DistortionSizes), found));
}

int AverageIndex(int count)
{
    const auto* found = std::find(std::begin(distortionview::AverageCounts), std::end(distortionview::AverageCounts),
                                  count);
    return found == std::end(distortionview::AverageCounts)
               ? 0
               : static_cast<int>(std::distance(std::begin(distortionview::AverageCounts), found));
}

QLabel* StripLabel(QWidget* parent, const QString& text, int x, int y, int width)
{
    auto* label = new QLabel(text, parent);
    label->setFont(FrameFont("Tahoma", 11));
    label->setGeometry(x, y, width, 22);
    return label;
}

void DrawSpectrum(QPainter& painter, const TFormDistortion::ChannelResult& result, const distortionview::Box& box,
                  int colourEntry)
{
    const distortionview::Span span{box.left, box.width};
    const QColor grid = SchemeColor(ColorGrid), text = SchemeColor(ColorGridEmphasised);
    painter.setPen(QPen(grid, 1, Qt::DotLine));
    painter.setFont(FrameFont("Tahoma", 10));
    for (double db = distortionview::AxisTopDb; db >= distortionview::AxisBottomDb; db -= 20.0) {
        const int y = distortionview::LevelRow(db, box.top, box.height);
        painter.setPen(QPen(grid, 1, Qt::DotLine));
        painter.drawLine(box.left, y, box.left + box.width - 1, y);
        painter.setPen(text);
        painter.drawText(QRect(box.left - 38, y - 7, 34, 14), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(db, 'f', 0));
    }
    for (double hz : {20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0}) {
        const int x = static_cast<int>(std::lround(distortionview::FrequencyColumn(hz, span)));
        painter.setPen(QPen(grid, 1, Qt::DotLine));
        painter.drawLine(x, box.top, x, box.top + box.height - 1);
        painter.setPen(text);
        const QString label = hz >= 1000 ? QString::number(hz / 1000) + "k" : QString::number(hz);
        painter.drawText(QRect(x - 20, box.top + box.height + 1, 40, 14), Qt::AlignCenter, label);
    }
    painter.setPen(grid);
    painter.drawRect(box.left, box.top, box.width - 1, box.height - 1);
    // Markers first: the trace stays on top of them.
    QFont small = FrameFont("Tahoma", 10);
    small.setBold(true);
    painter.setFont(small);
    for (const distortionview::Marker& marker : distortionview::Markers(result.reading, span)) {
        painter.setPen(QPen(MarkerColor(), 1, Qt::DashLine));
        painter.drawLine(marker.column, box.top + 14, marker.column, box.top + box.height - 1);
        painter.setPen(MarkerColor());
        painter.drawText(QRect(marker.column - 12, box.top + 1, 24, 13), Qt::AlignCenter,
                         marker.order == 1 ? "F" : QString::number(marker.order));
    }
    painter.setPen(SchemeColor(colourEntry));
    // Each column's span, reaching to the one before so that the trace
    // stays joined where a column holds a single level.
    std::optional<std::pair<int, int>> before;
    for (const distortionview::ColumnLevels& column :
         distortionview::ReduceToColumns(result.spectrumDb, result.binHz, span)) {
        int top = distortionview::LevelRow(column.maxDb, box.top, box.height);
        int bottom = distortionview::LevelRow(column.minDb, box.top, box.height);
        const std::pair<int, int> own{top, bottom};
        if (before) {
            top = std::min(top, before->second);
            bottom = std::max(bottom, before->first);
        }
        before = own;
        painter.drawLine(column.column, top, column.column, bottom);
    }
}

void DrawResidual(QPainter& painter, const std::vector<double>& residual, const distortionview::Box& box,
                  int colourEntry)
{
    const QColor grid = SchemeColor(ColorGrid);
    painter.setPen(grid);
    painter.drawRect(box.left, box.top, box.width - 1, box.height - 1);
    const int middle = box.top + box.height / 2;
    painter.setPen(QPen(grid, 1, Qt::DotLine));
    painter.drawLine(box.left, middle, box.left + box.width - 1, middle);
    double peak = 0.0;
    for (double value : residual)
        peak = std::max(peak, std::fabs(value));
    const auto drawCaption = [&] {
        painter.setPen(SchemeColor(ColorGridEmphasised));
        painter.setFont(FrameFont("Tahoma", 10));
        const QString caption = peak > 0 ? "Residual, peak " +
                                               QString::fromStdString(distortionview::DbText(
                                                   20.0 * std::log10(peak / measure::FullScale))) +
                                               " dBFS"
                                         : QString("Residual");
        const QRect place = painter.boundingRect(QRect(box.left + 4, box.top + 2, box.width - 8, 14),
                                                 Qt::AlignLeft | Qt::AlignVCenter, caption);
        painter.fillRect(place.adjusted(-2, 0, 2, 0), ClearColor());
        painter.drawText(place, Qt::AlignLeft | Qt::AlignVCenter, caption);
    };
    if (residual.size() < 2 || peak <= 0 || box.width < 2) {
        drawCaption();
        return;
    }
    // One min/max span per column, scaled to fill the box's height.
    painter.setPen(SchemeColor(colourEntry));
    const double scale = (box.height / 2 - 2) / peak;
    const std::size_t count = residual.size();
    for (int c = 0; c < box.width; ++c) {
        const std::size_t from = count * c / box.width, to = std::max(from + 1, count * (c + 1) / box.width);
        const auto [low, high] = std::minmax_element(residual.begin() + static_cast<std::ptrdiff_t>(from),
                                                     residual.begin() + static_cast<std::ptrdiff_t>(to));
        painter.drawLine(box.left + c, middle - static_cast<int>(std::lround(*high * scale)), box.left + c,
                         middle - static_cast<int>(std::lround(*low * scale)));
    }
    drawCaption(); // over the trace, readable
}

} // namespace

// The analyzers of both channels, remade when the size changes.
struct TFormDistortion::Analysis {
    explicit Analysis(int size)
        : analyzer{std::make_unique<measure::DistortionAnalyzer>(size, SampleRate),
                   std::make_unique<measure::DistortionAnalyzer>(size, SampleRate)}
    {
    }
    std::unique_ptr<measure::DistortionAnalyzer> analyzer[2];
    measure::DistortionAverage average[2];
};

void FeedDistortion(const int16_t* left, const int16_t* right, int frames)
{
    if (!feeding.load() || frames <= 0)
        return;
    std::lock_guard<std::mutex> guard(ringLock);
    if (!ring)
        return;
    const int16_t* channels[2] = {left, right};
    for (std::size_t done = 0; done < static_cast<std::size_t>(frames);) {
        const std::size_t part = std::min(static_cast<std::size_t>(frames) - done, DistortionRingFrames - ring->write);
        for (int channel = 0; channel < 2; ++channel)
            std::copy_n(channels[channel] + done, part,
                        ring->samples[channel].begin() + static_cast<std::ptrdiff_t>(ring->write));
        ring->write = (ring->write + part) % DistortionRingFrames;
        done += part;
    }
    ring->filled = std::min<std::size_t>(DistortionRingFrames, ring->filled + static_cast<std::size_t>(frames));
    ring->fed += static_cast<uint64_t>(frames);
}

void RestartDistortion()
{
    std::lock_guard<std::mutex> guard(ringLock);
    if (ring)
        ring->filled = 0;
}

TFormDistortion::TFormDistortion(QWidget* parent)
    : TViewForm("Distortion", {&DistortionX, &DistortionY, &DistortionW, &DistortionH, &DistortionShow},
                QSize(560, 360), parent)
{
    setFont(FrameFont("MS Sans Serif", 11));
    resize(DistortionW, DistortionH);
    PanelDistortion = new TPlotSurface("Distortion", this);
    PanelDistortion->SetCpuDrawing(true);
    PanelDistortion->OnRender = [this] { RenderDistortion(); };
    BuildStrip();
    AttachReadout(PanelDistortion);
    analysis = std::make_unique<Analysis>(measure::DistortionSizes[SizeIndex(DistortionSize)]);
    RestartAverages();
    std::lock_guard<std::mutex> guard(ringLock);
    ring = std::make_unique<Ring>();
}

TFormDistortion::~TFormDistortion()
{
    StopTone();
    feeding = false;
    std::lock_guard<std::mutex> guard(ringLock);
    ring.reset();
}

void TFormDistortion::BuildStrip()
{
    const QFont font = FrameFont("Tahoma", 11);
    StripLabel(this, "Channel", 6, 4, 48);
    ComboChannel = new QComboBox(this);
    ComboChannel->setGeometry(56, 4, 70, 22);
    ComboChannel->addItems({"Left", "Right", "Both"});
    ComboChannel->setCurrentIndex(std::clamp(DistortionChannel, 0, distortionview::ChannelChoiceCount - 1));
    StripLabel(this, "Size", 136, 4, 28);
    ComboSize = new QComboBox(this);
    ComboSize->setGeometry(166, 4, 76, 22);
    for (int size : measure::DistortionSizes)
        ComboSize->addItem(QString::number(size));
    ComboSize->setCurrentIndex(SizeIndex(DistortionSize));
    StripLabel(this, "Average", 252, 4, 48);
    ComboAverage = new QComboBox(this);
    ComboAverage->setGeometry(302, 4, 56, 22);
    for (int count : distortionview::AverageCounts)
        ComboAverage->addItem(count == 1 ? QString("Off") : QString::number(count));
    ComboAverage->setCurrentIndex(AverageIndex(DistortionAverage));
    LabAverage = StripLabel(this, "", 364, 4, 120);
    BtnCsv = new QPushButton("Save Results as CSV...", this);
    BtnCsv->setGeometry(490, 4, 150, 22);

    StripLabel(this, "Test tone", 6, 31, 56);
    EditToneHz = new QDoubleSpinBox(this);
    EditToneHz->setGeometry(64, 31, 100, 22);
    EditToneHz->setRange(distortionview::MinToneHz, distortionview::MaxToneHz);
    EditToneHz->setDecimals(1);
    EditToneHz->setSuffix(" Hz");
    EditToneHz->setValue(DistortionToneHz);
    EditToneDbfs = new QDoubleSpinBox(this);
    EditToneDbfs->setGeometry(170, 31, 96, 22);
    EditToneDbfs->setRange(distortionview::MinToneDbfs, distortionview::MaxToneDbfs);
    EditToneDbfs->setDecimals(1);
    EditToneDbfs->setSuffix(" dBFS");
    EditToneDbfs->setValue(DistortionToneDbfs);
    ComboDevice = new QComboBox(this);
    ComboDevice->setGeometry(272, 31, 210, 22);
    ComboDevice->setToolTip("Playback Device");
    BtnPlay = new QPushButton("Play", this);
    BtnPlay->setGeometry(490, 31, 70, 22);
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (control != PanelDistortion)
            control->setFont(font);

    connect(ComboChannel, &QComboBox::currentIndexChanged, this, &TFormDistortion::ComboChannelChange);
    connect(ComboSize, &QComboBox::currentIndexChanged, this, &TFormDistortion::ComboSizeChange);
    connect(ComboAverage, &QComboBox::currentIndexChanged, this, &TFormDistortion::ComboAverageChange);
    connect(EditToneHz, &QDoubleSpinBox::valueChanged, this, &TFormDistortion::ToneChange);
    connect(EditToneDbfs, &QDoubleSpinBox::valueChanged, this, &TFormDistortion::ToneChange);
    connect(ComboDevice, &QComboBox::activated, this, &TFormDistortion::ComboDeviceChange);
    connect(BtnPlay, &QPushButton::clicked, this, &TFormDistortion::BtnPlayClick);
    connect(BtnCsv, &QPushButton::clicked, this, &TFormDistortion::BtnCsvClick);
    TimerAnalyse = new QTimer(this);
    TimerAnalyse->setInterval(1000);
    connect(TimerAnalyse, &QTimer::timeout, this, [this] {
        if (Analyse())
            InvRectDistortion();
    });
    TimerTone = new QTimer(this);
    TimerTone->setInterval(100);
    connect(TimerTone, &QTimer::timeout, this, &TFormDistortion::TimerToneTimer);
}

void TFormDistortion::FillDeviceBox()
{
    const std::vector<std::string> names = ListWaveOutDevices();
    const QSignalBlocker quiet(ComboDevice);
    ComboDevice->clear();
    for (const std::string& name : names)
        ComboDevice->addItem(QString::fromStdString(name));
    if (DistortionDevice >= ComboDevice->count())
        DistortionDevice = 0;
    ComboDevice->setCurrentIndex(ComboDevice->count() > 0 ? DistortionDevice : -1);
}

std::vector<int> TFormDistortion::ChannelsShown() const
{
    if (DistortionChannel == distortionview::ChannelBoth)
        return {0, 1};
    return {std::clamp(DistortionChannel, 0, 1)};
}

void TFormDistortion::RestartAverages()
{
    const int count = distortionview::AverageCounts[AverageIndex(DistortionAverage)];
    for (measure::DistortionAverage& average : analysis->average) {
        average.SetCount(count);
        average.Restart();
    }
    LabAverage->clear();
}

bool TFormDistortion::Analyse()
{
    const int size = analysis->analyzer[0]->Size();
    const std::vector<int> channels = ChannelsShown();
    std::vector<int16_t> samples[2];
    {
        std::lock_guard<std::mutex> guard(ringLock);
        if (!ring || ring->fed == analysedUpTo || ring->filled < static_cast<std::size_t>(size))
            return false;
        analysedUpTo = ring->fed;
        for (int channel : channels)
            samples[channel] = Newest(*ring, channel, static_cast<std::size_t>(size));
    }
    QElapsedTimer took;
    took.start();
    std::vector<ChannelResult> fresh;
    for (int channel : channels) {
        measure::DistortionAnalyzer& analyzer = *analysis->analyzer[channel];
        const std::vector<int16_t>& data = samples[channel];
        std::vector<double> power = analyzer.PowerSpectrum(data.data());
        const measure::DistortionReading own = measure::ReadPowerSpectrum(power, size, SampleRate);
        const std::vector<double>& averaged = analysis->average[channel].Add(std::move(power), own);
        ChannelResult result;
        result.channel = channel;
        // One spectrum held: the average is that spectrum, already read.
        result.reading = analysis->average[channel].Held() > 1 ? measure::ReadPowerSpectrum(averaged, size, SampleRate)
                                                               : own;
        result.reading.clipped = measure::HasClippedRun(data.data(), data.size());
        result.spectrumDb = measure::SpectrumDbfs(averaged, size);
        result.binHz = analyzer.BinHz();
        if (result.reading.toneFound)
            result.residual = measure::ResidualWaveform(data.data() + data.size() - ResidualFrames, ResidualFrames,
                                                        result.reading.fundamentalHz, SampleRate);
        fresh.push_back(std::move(result));
    }
    results = std::move(fresh);
    // The analysis runs on the UI thread: how long it holds it, for the
    // measurements of scripts/measure_views.sh.
    static const bool logTimes = std::getenv("SONALYX_PAINT_STATS") != nullptr;
    if (logTimes)
        std::fprintf(stderr, "analysis Distortion %.3f ms\n", took.nsecsElapsed() / 1e6);
    const int held = analysis->average[channels.front()].Held();
    const int count = analysis->average[channels.front()].Count();
    LabAverage->setText(count > 1 ? QString("averaged %1 of %2").arg(held).arg(count) : QString());
    return true;
}

distortionview::SectionPlaces TFormDistortion::Places(int index) const
{
    const QSize size = PanelDistortion->DeviceSize();
    return distortionview::LayoutSection(size.width(), size.height(), index, static_cast<int>(ChannelsShown().size()));
}

distortionview::Calibration TFormDistortion::DeviceCalibration()
{
    if (calibratedDevice != DeviceName) {
        calibratedDevice = DeviceName;
        std::string error; // the levels window tells about a file it cannot read
        calibration = platform::LoadCalibration(DeviceName, &error).offsetDb;
    }
    return calibration;
}

void TFormDistortion::RenderDistortion()
{
    QImage& picture = PanelDistortion->Picture();
    picture.fill(ClearColor());
    QPainter painter(&picture);
    const distortionview::Calibration shownIn = DeviceCalibration();
    const std::vector<int> channels = ChannelsShown();
    const int channelColours[2] = {ColorLeft, ColorRight};
    const QFont textFont = FrameFont("Tahoma", 12);
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const distortionview::SectionPlaces places = Places(static_cast<int>(i));
        const int channel = channels[i];
        const auto found = std::find_if(results.begin(), results.end(),
                                        [&](const ChannelResult& r) { return r.channel == channel; });
        std::vector<std::string> lines;
        ChannelResult empty;
        empty.channel = channel;
        const ChannelResult& result = found != results.end() ? *found : empty;
        if (found != results.end())
            lines = distortionview::ReadingLines(result.reading, shownIn);
        else
            lines = {"Waiting for " + std::to_string(analysis->analyzer[0]->Size()) + " samples"};
        lines.insert(lines.begin(), channel == 0 ? "Left" : "Right");
        painter.setFont(textFont);
        const int lineHeight = 16;
        for (std::size_t l = 0; l < lines.size(); ++l) {
            const bool alarm = lines[l].find("clipped") != std::string::npos;
            painter.setPen(alarm ? QColor(220, 30, 30)
                                 : (l == 0 ? SchemeColor(channelColours[channel]) : SchemeColor(ColorGridEmphasised)));
            painter.drawText(QRect(places.text.left, places.text.top + static_cast<int>(l) * lineHeight,
                                   places.text.width, lineHeight),
                             Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(lines[l]));
        }
        DrawSpectrum(painter, result, places.spectrum, channelColours[channel]);
        DrawResidual(painter, result.residual, places.residual, channelColours[channel]);
    }
}

QString TFormDistortion::ReadoutText(QPoint pointer)
{
    const double ratio = PanelDistortion->devicePixelRatioF();
    const int x = static_cast<int>(pointer.x() * ratio), y = static_cast<int>(pointer.y() * ratio);
    const std::vector<int> channels = ChannelsShown();
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const distortionview::SectionPlaces places = Places(static_cast<int>(i));
        if (!places.spectrum.Holds(x, y))
            continue;
        const distortionview::Span span{places.spectrum.left, places.spectrum.width};
        const double hz = distortionview::ColumnFrequency(x, span);
        const auto found = std::find_if(results.begin(), results.end(),
                                        [&](const ChannelResult& r) { return r.channel == channels[i]; });
        // The spectrum's level in the column under the pointer; without
        // one, the level the pointer stands at.
        double level = distortionview::RowLevel(y, places.spectrum.top, places.spectrum.height);
        if (found != results.end())
            for (const distortionview::ColumnLevels& column :
                 distortionview::ReduceToColumns(found->spectrumDb, found->binHz, span))
                if (column.column == x)
                    level = column.maxDb;
        return QString::fromStdString(distortionview::HoverText(hz, level, DeviceCalibration()));
    }
    return {};
}

std::string TFormDistortion::SaveCsv(const QString& path)
{
    std::vector<distortionview::ChannelReading> readings;
    for (const ChannelResult& result : results)
        readings.push_back({result.channel == 0 ? "Left" : "Right", &result.reading});
    if (readings.empty())
        return "nothing has been measured yet";
    return platform::ReplaceFileAtomically(path.toStdString(), distortionview::CsvText(readings, DeviceCalibration()));
}

void TFormDistortion::BtnCsvClick()
{
    const QString path = AskSaveFile("distortion.csv", "CSV files (*.csv)");
    if (path.isEmpty())
        return;
    if (const std::string why = SaveCsv(path); !why.empty())
        ReportSaveFailure(path, why);
}

void TFormDistortion::AddExportActions(QMenu& menu)
{
    TViewForm::AddExportActions(menu);
    menu.addAction("Save Results as CSV...", this, &TFormDistortion::BtnCsvClick);
}

void TFormDistortion::ComboChannelChange(int index)
{
    DistortionChannel = std::clamp(index, 0, distortionview::ChannelChoiceCount - 1);
    RestartAverages();
    results.clear();
    analysedUpTo = 0; // what the ring holds is read at once for the new choice
    Analyse();
    InvRectDistortion();
}

void TFormDistortion::ComboSizeChange(int index)
{
    DistortionSize =
        measure::DistortionSizes[std::clamp(index, 0, static_cast<int>(std::size(measure::DistortionSizes)) - 1)];
    analysis = std::make_unique<Analysis>(DistortionSize);
    RestartAverages();
    results.clear();
    analysedUpTo = 0;
    Analyse();
    InvRectDistortion();
}

void TFormDistortion::ComboAverageChange(int index)
{
    DistortionAverage = distortionview::AverageCounts[std::clamp(index, 0, distortionview::AverageChoiceCount - 1)];
    RestartAverages();
}

void TFormDistortion::ToneChange()
{
    DistortionToneHz = static_cast<float>(EditToneHz->value());
    DistortionToneDbfs = static_cast<float>(EditToneDbfs->value());
    if (!tonePlaying)
        return;
    ToneFreq = DistortionToneHz;
    ToneAmplitude = ToneAmplitudeFor(DistortionToneDbfs);
}

void TFormDistortion::ComboDeviceChange(int index)
{
    DistortionDevice = std::max(0, index);
    if (tonePlaying) { // the tone moves to the new device
        StopTone();
        StartTone();
    }
}

std::string TFormDistortion::StartTone()
{
    if (tonePlaying)
        return {};
    if (platform::WaveOutGetNumDevs() <= 0) {
        platform::ShowMessage("Enable any playback device!");
        return "no playback device";
    }
    // One owner of the generator's engine at a time.
    if (GenSweep) {
        const std::string why = "A frequency response is being measured: the test tone can play when it has ended.";
        platform::ShowMessage(why);
        return why;
    }
    // The generator steps aside: its device closes (it opens again after
    // the tone) and its choices stay as they are.
    before = BorrowEngine("Distortion Analyzer");
    ToneFreq = DistortionToneHz;
    ToneAmplitude = ToneAmplitudeFor(DistortionToneDbfs);
    GenTestTone = true;
    GenSine = true;
    GenNoise = false;
    GenPink = false;
    GenPlaying = true;
    std::string error;
    toneDeviceCount = platform::WaveOutGetNumDevs();
    if (!OpenWaveOut(DistortionDevice, &error)) {
        tonePlaying = true; // so that StopTone puts everything back
        StopTone();
        platform::ShowMessage(error);
        return error;
    }
    tonePlaying = true;
    BtnPlay->setText("Stop");
    TimerTone->start();
    return {};
}

void TFormDistortion::StopTone()
{
    if (!tonePlaying)
        return;
    tonePlaying = false;
    TimerTone->stop();
    CloseWaveOut();
    GenTestTone = false;
    BtnPlay->setText("Play");
    ReturnEngine(before);
}

void TFormDistortion::BtnPlayClick()
{
    if (tonePlaying)
        StopTone();
    else
        StartTone();
}

void TFormDistortion::TimerToneTimer()
{
    if (!tonePlaying)
        return;
    // Like the generator: a change in the playback devices closes the
    // device, and the user is told.
    if (platform::WaveOutGetNumDevs() == toneDeviceCount)
        return;
    StopTone();
    FillDeviceBox();
    platform::ShowMessage(OutputDevicesChangedMessage);
}

void TFormDistortion::DrawDistortionFrame()
{
    EnsureCanvas();
    const QRect panel(0, StripHeight, width(), std::max(1, height() - StripHeight));
    PanelDistortion->setGeometry(panel);
    QPainter painter(&Canvas());
    ClearFrameCanvas(painter, palette().window().color());
    painter.end();
    SetFrameMarker(Canvas());
    update(QRegion(rect()) - panel);
}

void TFormDistortion::FollowCalibration()
{
    calibratedDevice.reset();
    InvRectDistortion();
}

void TFormDistortion::InvRectDistortion()
{
    PanelDistortion->Invalidate();
}

void TFormDistortion::FormShow()
{
    TViewForm::FormShow();
    setWindowTitle("Distortion Analyzer");
    if (!tonePlaying)
        FillDeviceBox();
    DrawDistortionFrame();
}

void TFormDistortion::showEvent(QShowEvent* event)
{
    TViewForm::showEvent(event);
    feeding = true;
    TimerAnalyse->start();
}

void TFormDistortion::hideEvent(QHideEvent* event)
{
    if (!isMinimized()) { // closed: nothing more is measured or played
        feeding = false;
        TimerAnalyse->stop();
        StopTone();
        // Opened again, the window reads only what it hears from then on.
        std::lock_guard<std::mutex> guard(ringLock);
        if (ring)
            ring->filled = 0;
    }
    TViewForm::hideEvent(event);
}
