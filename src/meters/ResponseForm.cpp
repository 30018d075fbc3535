#include "meters/ResponseForm.h"

#include "measure/textfields.h"

#include "analysis/plotgeometry.h"
#include "generator/Generator.h"
#include "measure/micresponse.h"
#include "measure/responsefile.h"
#include "platform/atomicfile.h"
#include "platform/calibrations.h"
#include "platform/dialogs.h"
#include "platform/reclib.h"
#include "platform/soundserver.h"
#include "platform/wavedev.h"
#include "platform/wavfile.h"
#include "playback/WaveOut.h"
#include "playback/sweeprecording.h"
#include "state/global.h"
#include "views/framepaint.h"
#include "views/plotsurface.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <complex>
#include <iterator>
#include <numbers>
#include <stdexcept>

namespace {

using responseview::Box;

// The two rows of controls above the panel, the list's column at the right.
constexpr int StripHeight = 58;
constexpr int ListWidth = 330;

QColor SchemeColor(int entry)
{
    return QColor(SchemeR[entry], SchemeG[entry], SchemeB[entry]);
}

QColor ClearColor()
{
    const PlotRgba clear = SchemeClearColor(LightBackground);
    return QColor::fromRgbF(clear.r, clear.g, clear.b);
}

// Eight colours that stand apart from each other on either background.
QColor PaletteColor(int index)
{
    static const QColor Colours[responseview::PaletteSize] = {
        QColor(0, 150, 255),  QColor(255, 130, 0), QColor(40, 180, 60), QColor(220, 40, 40),
        QColor(160, 90, 255), QColor(0, 190, 190), QColor(200, 170, 0), QColor(240, 80, 190)};
    return Colours[std::clamp(index, 0, responseview::PaletteSize - 1)];
}

QLabel* StripLabel(QWidget* parent, const QString& text, int x, int y, int width)
{
    auto* label = new QLabel(text, parent);
    label->setFont(FrameFont("Tahoma", 11));
    label->setGeometry(x, y, width, 22);
    return label;
}

int LengthIndex(int seconds)
{
    const auto* found = std::find(std::begin(responseview::LengthChoices), std::end(responseview::LengthChoices),
                                  seconds);
    return found == std::end(responseview::LengthChoices)
               ? 2
               : static_cast<int>(std::distance(std::begin(responseview::LengthChoices), found));
}

// Phase turned continuous along the points, for a curve read from a file.
std::vector<double> Unwrap(const std::vector<double>& degrees)
{
    std::vector<double> unwrapped(degrees.size());
    double turns = 0;
    for (std::size_t i = 0; i < degrees.size(); ++i) {
        if (i > 0) {
            const double step = degrees[i] - degrees[i - 1];
            turns -= 360.0 * std::round(step / 360.0);
        }
        unwrapped[i] = degrees[i] + turns;
    }
    return unwrapped;
}

// What one view draws: its curves in its units, the axis they share.
struct DrawnCurve {
    std::string name;
    QColor colour;
    const std::vector<double>* hz = nullptr;
    std::vector<double> values;
};

struct ViewCurves {
    std::vector<DrawnCurve> curves;
    responseview::ValueRange range;
    double step = 10;
    std::string unit, axisLabel;
    int decimals = 1;
};

std::vector<double> AllValues(const std::vector<DrawnCurve>& curves)
{
    std::vector<double> all;
    for (const DrawnCurve& curve : curves)
        all.insert(all.end(), curve.values.begin(), curve.values.end());
    return all;
}

// The response at the points as complex values, smoothed as a whole, then
// back to dB and degrees: the export's curve.
measure::ResponseCurve SmoothedCurve(const responseview::Kept& kept, measure::Smoothing smoothing)
{
    measure::ResponseCurve curve{kept.hz, kept.magnitudeDb, kept.phaseDegrees};
    if (smoothing == measure::Smoothing::None || kept.hz.empty())
        return curve;
    std::vector<std::complex<double>> response(kept.hz.size());
    for (std::size_t i = 0; i < response.size(); ++i)
        response[i] = std::polar(std::pow(10.0, kept.magnitudeDb[i] / 20.0),
                                 kept.phaseDegrees[i] * std::numbers::pi / 180);
    const std::vector<std::complex<double>> smoothed = measure::SmoothComplex(kept.hz, response, smoothing);
    for (std::size_t i = 0; i < smoothed.size(); ++i) {
        curve.db[i] = 20.0 * std::log10(std::max(std::abs(smoothed[i]), 1e-15));
        curve.degrees[i] = std::arg(smoothed[i]) * 180 / std::numbers::pi;
    }
    return curve;
}

// The curves of a frequency view (not the impulse's) from the kept entries
// shown.
ViewCurves CurvesOf(const responseview::KeptList& kept, int view)
{
    ViewCurves out;
    const measure::Smoothing smoothing = responseview::SmoothingFor(ResponseSmoothing);
    if (view == responseview::ViewDistortion) {
        // The newest measurement's harmonics, each in a colour of its own.
        for (std::size_t i = kept.Size(); i-- > 0;) {
            const responseview::Kept& entry = kept[i];
            if (!entry.shown || !entry.measurement)
                continue;
            for (const measure::HarmonicLevels& harmonic : entry.measurement->harmonics)
                out.curves.push_back({entry.name + " H" + std::to_string(harmonic.order),
                                      PaletteColor((entry.colour + harmonic.order - 2) % responseview::PaletteSize),
                                      &harmonic.hz,
                                      responseview::CorrectedMagnitude(harmonic.hz, harmonic.levelDb, {}, smoothing)});
            break;
        }
        out.range = responseview::MagnitudeRange(AllValues(out.curves));
        out.step = responseview::MagnitudeStep(out.range);
        out.unit = "dB";
        out.axisLabel = "dB relative to the fundamental (harmonic at k f, shown at f)";
        return out;
    }
    if (view == responseview::ViewPhase) {
        const bool unwrapped = ResponsePhaseMode == responseview::PhaseUnwrapped;
        for (const responseview::Kept& entry : kept.Entries())
            if (entry.shown) {
                std::vector<double> degrees = unwrapped ? entry.unwrappedDegrees : entry.phaseDegrees;
                if (smoothing != measure::Smoothing::None && !unwrapped)
                    degrees = SmoothedCurve(entry, smoothing).degrees;
                out.curves.push_back({entry.name, PaletteColor(entry.colour), &entry.hz, std::move(degrees)});
            }
        out.range = responseview::PhaseRange(AllValues(out.curves), unwrapped);
        out.step = responseview::PhaseStep(out.range);
        out.unit = "deg";
        out.axisLabel = unwrapped ? "Phase, degrees (unwrapped)" : "Phase, degrees";
        out.decimals = 1;
        return out;
    }
    // Magnitude: in dB SPL when every measurement shown has a calibration.
    bool spl = false;
    double level = 0;
    for (const responseview::Kept& entry : kept.Entries())
        if (entry.shown && !entry.fromFile) {
            spl = entry.calibrationDb.has_value();
            level = entry.levelDbfs;
            if (!spl)
                break;
        }
    for (const responseview::Kept& entry : kept.Entries())
        if (entry.shown) {
            std::vector<double> db = responseview::CorrectedMagnitude(entry.hz, entry.magnitudeDb, {}, smoothing);
            if (spl && entry.calibrationDb)
                for (double& value : db)
                    value += entry.levelDbfs + *entry.calibrationDb;
            out.curves.push_back({responseview::LegendText(entry.name, entry.measurement && entry.measurement->clipped),
                                  PaletteColor(entry.colour), &entry.hz, std::move(db)});
        }
    out.range = responseview::MagnitudeRange(AllValues(out.curves));
    out.step = responseview::MagnitudeStep(out.range);
    out.unit = spl ? "dB SPL" : "dB";
    out.axisLabel = responseview::MagnitudeAxisLabel(spl ? std::optional<double>(0.0) : std::nullopt, level);
    return out;
}

void DrawGridFrame(QPainter& painter, const Box& plot)
{
    painter.setPen(SchemeColor(ColorGrid));
    painter.drawRect(plot.left, plot.top, plot.width - 1, plot.height - 1);
}

void DrawFrequencyGrid(QPainter& painter, const Box& plot, bool labels)
{
    const QColor grid = SchemeColor(ColorGrid), text = SchemeColor(ColorGridEmphasised);
    painter.setFont(FrameFont("Tahoma", 10));
    for (const responseview::Tick& tick : responseview::FrequencyTicks(plot)) {
        painter.setPen(QPen(grid, 1, Qt::DotLine));
        painter.drawLine(tick.place, plot.top, tick.place, plot.Bottom());
        if (!labels)
            continue;
        painter.setPen(text);
        painter.drawText(QRect(tick.place - 20, plot.Bottom() + 2, 40, 14), Qt::AlignCenter,
                         QString::fromStdString(tick.text));
    }
}

void DrawValueGrid(QPainter& painter, const std::vector<responseview::Tick>& ticks, const Box& plot)
{
    const QColor grid = SchemeColor(ColorGrid), text = SchemeColor(ColorGridEmphasised);
    painter.setFont(FrameFont("Tahoma", 10));
    for (const responseview::Tick& tick : ticks) {
        painter.setPen(QPen(grid, 1, Qt::DotLine));
        painter.drawLine(plot.left, tick.place, plot.Right(), tick.place);
        painter.setPen(text);
        painter.drawText(QRect(plot.left - 50, tick.place - 7, 46, 14), Qt::AlignRight | Qt::AlignVCenter,
                         QString::fromStdString(tick.text));
    }
}

void DrawAxisLabel(QPainter& painter, const Box& plot, const std::string& label)
{
    painter.setPen(SchemeColor(ColorGridEmphasised));
    painter.setFont(FrameFont("Tahoma", 11));
    painter.drawText(QRect(plot.left, plot.top - 20, plot.width, 16), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromStdString(label));
}

void DrawStretches(QPainter& painter, const std::vector<std::vector<responseview::Vertex>>& stretches)
{
    for (const std::vector<responseview::Vertex>& stretch : stretches) {
        if (stretch.size() == 1) {
            painter.drawPoint(QPointF(stretch[0].x, stretch[0].y));
            continue;
        }
        QPainterPath path(QPointF(stretch[0].x, stretch[0].y));
        for (std::size_t i = 1; i < stretch.size(); ++i)
            path.lineTo(stretch[i].x, stretch[i].y);
        painter.drawPath(path);
    }
}

void DrawLegend(QPainter& painter, const std::vector<std::pair<std::string, QColor>>& entries, const Box& plot)
{
    const std::vector<Box> rows = responseview::LegendRows(static_cast<int>(entries.size()), plot, 200, 16);
    painter.setFont(FrameFont("Tahoma", 11));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Box& row = rows[i];
        painter.fillRect(row.left, row.top, row.width, row.height, ClearColor());
        painter.setPen(QPen(entries[i].second, 2));
        painter.drawLine(row.left + 4, row.top + row.height / 2, row.left + 22, row.top + row.height / 2);
        const bool clipped = entries[i].first.find("(clipped)") != std::string::npos;
        painter.setPen(clipped ? QColor(220, 30, 30) : SchemeColor(ColorGridEmphasised));
        painter.drawText(QRect(row.left + 28, row.top, row.width - 30, row.height), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromStdString(entries[i].first));
    }
}

// The impulse view's time axis: from a little before the earliest peak
// shown to 50 ms after the latest.
responseview::TimeRange ImpulseTimes(const responseview::KeptList& kept)
{
    double first = 1e300, last = -1e300;
    for (const responseview::Kept& entry : kept.Entries())
        if (entry.shown && entry.measurement)
            first = std::min(first, entry.measurement->delayMs), last = std::max(last, entry.measurement->delayMs);
    if (first > last)
        return {-5, 50};
    return {std::floor(first) - 5.0, std::ceil(last) + 50.0};
}

// The samples of a kept impulse with the times they stand at.
struct ImpulseTrace {
    std::vector<double> values;
    double startMs = 0, msPerSample = 0;
};

ImpulseTrace TraceOf(const responseview::Kept& entry, bool inDb)
{
    const measure::WindowedImpulse& impulse = entry.measurement->impulse;
    ImpulseTrace trace;
    trace.values = inDb ? responseview::SamplesInDb(impulse.samples) : impulse.samples;
    trace.msPerSample = 1000.0 / impulse.sampleRate;
    trace.startMs = (impulse.startLag - entry.offsetFrames) * trace.msPerSample;
    return trace;
}

} // namespace

TFormResponse::TFormResponse(QWidget* parent)
    : TViewForm("Response", {&ResponseX, &ResponseY, &ResponseW, &ResponseH, &ResponseShow}, QSize(760, 420), parent)
{
    setFont(FrameFont("MS Sans Serif", 11));
    resize(ResponseW, ResponseH);
    PanelResponse = new TPlotSurface("Response", this);
    PanelResponse->SetCpuDrawing(true);
    PanelResponse->OnRender = [this] { RenderResponse(); };
    BuildStrip();
    AttachReadout(PanelResponse);
}

TFormResponse::~TFormResponse()
{
    CancelMeasurement();
}

void TFormResponse::BuildStrip()
{
    const QFont font = FrameFont("Tahoma", 11);
    StripLabel(this, "Play", 6, 4, 28);
    ComboPlay = new QComboBox(this);
    ComboPlay->setGeometry(36, 4, 170, 22);
    ComboPlay->setToolTip("Playback Device");
    StripLabel(this, "Record", 214, 4, 44);
    ComboRecord = new QComboBox(this);
    ComboRecord->setGeometry(260, 4, 190, 22);
    ComboRecord->setToolTip("Recording Device");
    StripLabel(this, "Length", 458, 4, 40);
    ComboLength = new QComboBox(this);
    ComboLength->setGeometry(500, 4, 56, 22);
    for (int seconds : responseview::LengthChoices)
        ComboLength->addItem(QString::number(seconds) + " s");
    ComboLength->setCurrentIndex(LengthIndex(ResponseLength));
    StripLabel(this, "Level", 564, 4, 32);
    EditLevel = new QDoubleSpinBox(this);
    EditLevel->setGeometry(598, 4, 96, 22);
    EditLevel->setRange(responseview::MinLevelDbfs, responseview::MaxLevelDbfs);
    EditLevel->setDecimals(1);
    EditLevel->setSuffix(" dBFS");
    EditLevel->setValue(ResponseLevel);
    BtnMeasure = new QPushButton("Measure", this);
    BtnMeasure->setGeometry(702, 4, 80, 22);
    Progress = new QProgressBar(this);
    Progress->setGeometry(788, 6, 100, 18);
    Progress->setRange(0, 100);
    Progress->setTextVisible(false);
    Progress->hide();

    StripLabel(this, "Reference", 6, 31, 60);
    ComboReference = new QComboBox(this);
    ComboReference->setGeometry(68, 31, 104, 22);
    ComboReference->addItems({"generated", "left input", "right input"});
    ComboReference->setCurrentIndex(std::clamp(ResponseReferenceChoice, 0, responseview::ReferenceChoiceCount - 1));
    StripLabel(this, "Channel", 180, 31, 48);
    ComboChannel = new QComboBox(this);
    ComboChannel->setGeometry(230, 31, 66, 22);
    ComboChannel->addItems({"Left", "Right"});
    ComboChannel->setCurrentIndex(std::clamp(ResponseChannel, 0, 1));
    StripLabel(this, "View", 304, 31, 30);
    ComboView = new QComboBox(this);
    ComboView->setGeometry(336, 31, 96, 22);
    ComboView->addItems({"Magnitude", "Phase", "Impulse", "Distortion"});
    ComboView->setCurrentIndex(std::clamp(ResponseView, 0, responseview::ViewChoiceCount - 1));
    StripLabel(this, "Smoothing", 440, 31, 60);
    ComboSmoothing = new QComboBox(this);
    ComboSmoothing->setGeometry(502, 31, 98, 22);
    ComboSmoothing->addItems({"None", "1/48 octave", "1/24 octave", "1/12 octave", "1/6 octave", "1/3 octave"});
    ComboSmoothing->setCurrentIndex(std::clamp(ResponseSmoothing, 0, responseview::SmoothingChoiceCount - 1));
    ComboPhase = new QComboBox(this);
    ComboPhase->setGeometry(608, 31, 96, 22);
    ComboPhase->addItems({"wrapped", "unwrapped"});
    ComboPhase->setToolTip("Phase");
    ComboPhase->setCurrentIndex(std::clamp(ResponsePhaseMode, 0, 1));
    ComboImpulse = new QComboBox(this);
    ComboImpulse->setGeometry(712, 31, 76, 22);
    ComboImpulse->addItems({"linear", "dB"});
    ComboImpulse->setToolTip("Impulse");
    ComboImpulse->setCurrentIndex(std::clamp(ResponseImpulseMode, 0, 1));

    ListKept = new QTreeWidget(this);
    ListKept->setColumnCount(3);
    ListKept->setHeaderLabels({"Measurement", "Delay", "Peak"});
    ListKept->setRootIsDecorated(false);
    ListKept->header()->setStretchLastSection(false);
    ListKept->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    ListKept->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    ListKept->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    BtnDelete = new QPushButton("Delete", this);
    LabStatus = new QLabel(this);
    LabStatus->setWordWrap(true);
    LabStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (control != PanelResponse)
            control->setFont(font);

    for (QComboBox* box : {ComboLength, ComboReference, ComboChannel, ComboView, ComboSmoothing, ComboPhase,
                           ComboImpulse, ComboPlay, ComboRecord})
        connect(box, &QComboBox::currentIndexChanged, this, &TFormResponse::ChoiceChange);
    connect(EditLevel, &QDoubleSpinBox::valueChanged, this, &TFormResponse::ChoiceChange);
    connect(BtnMeasure, &QPushButton::clicked, this, &TFormResponse::BtnMeasureClick);
    connect(BtnDelete, &QPushButton::clicked, this, &TFormResponse::BtnDeleteClick);
    connect(ListKept, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (fillingList || column != 0)
            return;
        const int index = ListKept->indexOfTopLevelItem(item);
        if (index < 0 || index >= static_cast<int>(kept.Size()))
            return;
        const std::string name = item->text(0).trimmed().toStdString();
        if (!name.empty())
            kept[index].name = name;
        SetKeptShown(index, item->checkState(0) == Qt::Checked);
    });
    // Devices that come or go show in the boxes; not while a measurement
    // runs, whose own devices are watched by the recorder.
    TimerDevices = new QTimer(this);
    TimerDevices->setInterval(1000);
    connect(TimerDevices, &QTimer::timeout, this, [this] {
        if (!recording && platform::Server().changeCount() != devicesSeen)
            FillDeviceBoxes();
    });
    TimerPoll = new QTimer(this);
    TimerPoll->setInterval(50);
    connect(TimerPoll, &QTimer::timeout, this, &TFormResponse::PollMeasurement);
}

void TFormResponse::FillDeviceBoxes()
{
    devicesSeen = platform::Server().changeCount();
    // The devices chosen stay chosen where they still are.
    const QString playing = ComboPlay->currentText(), recording = ComboRecord->currentData().toString();
    {
        const QSignalBlocker quiet(ComboPlay);
        ComboPlay->clear();
        for (const std::string& name : ListWaveOutDevices())
            ComboPlay->addItem(QString::fromStdString(name));
        if (const int kept = playing.isEmpty() ? -1 : ComboPlay->findText(playing); kept >= 0)
            ResponsePlayDevice = kept;
        if (ResponsePlayDevice >= ComboPlay->count())
            ResponsePlayDevice = 0;
        ComboPlay->setCurrentIndex(ComboPlay->count() > 0 ? ResponsePlayDevice : -1);
    }
    // The recording devices as the main window lists them: the server's
    // sources, each loopback named after the playback device it carries.
    const QSignalBlocker quiet(ComboRecord);
    ComboRecord->clear();
    platform::rec::DeviceInfo info;
    for (int device = 1; platform::rec::RecordGetDeviceInfo(device, &info); ++device)
        ComboRecord->addItem(QString::fromStdString(info.name), QString::fromStdString(info.driver));
    if (const int kept = recording.isEmpty() ? -1 : ComboRecord->findData(recording); kept >= 0)
        ResponseRecordDevice = kept;
    if (ResponseRecordDevice >= ComboRecord->count())
        ResponseRecordDevice = 0;
    ComboRecord->setCurrentIndex(ComboRecord->count() > 0 ? ResponseRecordDevice : -1);
}

std::string TFormResponse::RecordingDeviceDescription() const
{
    return ComboRecord->currentText().toStdString();
}

std::string TFormResponse::RecordingSourceName() const
{
    return ComboRecord->currentData().toString().toStdString();
}

void TFormResponse::ChoiceChange()
{
    ResponseLength = responseview::LengthChoices[std::clamp(
        ComboLength->currentIndex(), 0, static_cast<int>(std::size(responseview::LengthChoices)) - 1)];
    ResponseLevel = static_cast<float>(EditLevel->value());
    ResponseReferenceChoice = std::max(0, ComboReference->currentIndex());
    ResponseChannel = std::max(0, ComboChannel->currentIndex());
    ResponseView = std::max(0, ComboView->currentIndex());
    ResponseSmoothing = std::max(0, ComboSmoothing->currentIndex());
    ResponsePhaseMode = std::max(0, ComboPhase->currentIndex());
    ResponseImpulseMode = std::max(0, ComboImpulse->currentIndex());
    ResponsePlayDevice = std::max(0, ComboPlay->currentIndex());
    ResponseRecordDevice = std::max(0, ComboRecord->currentIndex());
    // The measured channel matters only against the generated sweep.
    ComboChannel->setEnabled(ResponseReferenceChoice == responseview::ReferenceGenerated);
    InvRectResponse();
}

std::string TFormResponse::StartMeasurement()
{
    if (recording)
        return "a measurement is under way";
    measure::SweepParameters parameters;
    parameters.seconds = ResponseLength;
    parameters.levelDbfs = ResponseLevel;
    try {
        measure::ValidateSweepParameters(parameters);
    } catch (const std::invalid_argument& error) {
        platform::ShowMessage(error.what());
        return error.what();
    }
    if (platform::WaveOutGetNumDevs() <= 0 || ComboPlay->currentIndex() < 0) {
        platform::ShowMessage("Enable any playback device!");
        return "no playback device";
    }
    if (ComboRecord->currentIndex() < 0) {
        platform::ShowMessage("There is no recording device to measure with.");
        return "no recording device";
    }
    // One owner of the generator's engine at a time.
    if (GenTestTone) {
        const std::string why = "The Distortion Analyzer's test tone is playing: stop it before measuring.";
        platform::ShowMessage(why);
        return why;
    }
    sweep = std::make_unique<measure::ExponentialSweep>(parameters);
    running = {ResponseLevel, ResponseReferenceChoice, ResponseChannel, RecordingDeviceDescription()};
    // The generator steps aside: its device closes (it opens again after
    // the measurement) and its choices stay as they are.
    before = BorrowEngine("Frequency Response");
    generatorHeld = true;
    GenSine = GenNoise = GenPink = false;
    recording = std::make_unique<SweepRecording>();
    std::string error;
    if (!recording->Start(platform::Server(), RecordingSourceName(), ComboPlay->currentIndex(), *sweep,
                          /*refillOwnThread=*/false, &error)) {
        EndMeasurement();
        const std::string why = "The measurement could not start: " + error;
        platform::ShowMessage(why);
        return why;
    }
    BtnMeasure->setEnabled(false);
    Progress->setValue(0);
    Progress->show();
    LabStatus->setText("Measuring...");
    TimerPoll->start();
    return {};
}

void TFormResponse::EndMeasurement()
{
    TimerPoll->stop();
    if (recording) {
        recording->Stop();
        recording.reset();
    }
    if (generatorHeld) {
        generatorHeld = false;
        ReturnEngine(before);
    }
    BtnMeasure->setEnabled(true);
    Progress->hide();
}

void TFormResponse::CancelMeasurement()
{
    if (!recording)
        return;
    EndMeasurement();
    LabStatus->setText("The measurement was stopped.");
}

void TFormResponse::PollMeasurement()
{
    if (!recording)
        return;
    const SweepRecording::State state = recording->Poll();
    Progress->setValue(static_cast<int>(std::lround(100 * std::clamp(recording->Progress(), 0.0, 1.0))));
    if (state == SweepRecording::State::Recording)
        return;
    if (state == SweepRecording::State::Failed) {
        const std::string why = "The measurement stopped: " + recording->Error();
        EndMeasurement();
        LabStatus->setText(QString::fromStdString(why));
        platform::ShowMessage(why);
        return;
    }
    const SweepTake take = recording->Take();
    EndMeasurement();
    const measure::ResponseReference reference = responseview::ReferenceFor(running.reference);
    // Against a recorded reference the delay lies between the two inputs.
    const double offset = reference == measure::ResponseReference::Generated && take.offsetKnown ? take.offsetFrames
                                                                                                 : 0.0;
    measure::ResponseOutcome outcome = measure::AnalyseResponse(*sweep, take.stereo, reference, running.channel,
                                                                offset);
    if (!outcome.measurement) {
        LabStatus->setText(QString::fromStdString(outcome.error));
        platform::ShowMessage(outcome.error);
        return;
    }
    responseview::Kept result;
    result.name = kept.NextName();
    result.date = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss").toStdString();
    result.levelDbfs = running.levelDbfs;
    result.offsetFrames = offset;
    const platform::DeviceCalibration calibration = platform::LoadCalibration(running.device);
    result.calibrationDb = calibration.offsetDb;
    measure::MicResponse mic;
    if (!calibration.micFile.empty()) {
        const measure::MicParse parse = measure::LoadMicResponse(calibration.micFile);
        if (parse.ok)
            mic = parse.response;
        else
            platform::ShowMessage("The microphone file of \"" + running.device + "\" is not used: " + parse.message);
    }
    for (const measure::ResponsePoint& point : outcome.measurement->points) {
        result.hz.push_back(point.hz);
        result.magnitudeDb.push_back(point.magnitudeDb - mic.DbAt(point.hz));
        result.phaseDegrees.push_back(point.phaseDegrees);
        result.unwrappedDegrees.push_back(point.unwrappedPhaseDegrees);
    }
    result.measurement = std::move(outcome.measurement);
    KeepResult(std::move(result));
}

void TFormResponse::KeepResult(responseview::Kept result)
{
    const std::string dropped = kept.Add(std::move(result));
    const responseview::Kept& newest = kept[kept.Size() - 1];
    std::string status = newest.name;
    if (newest.measurement) {
        const measure::ResponseMeasurement& m = *newest.measurement;
        status += ": delay " + responseview::DelayText(m.delayMs, m.delaySamples) + ", peak " +
                  measure::FixedText(m.peakDb, 1) + " dB";
        if (m.clipped)
            status += ", clipped: lower the level";
    }
    if (!dropped.empty())
        status += ". " + dropped + " was dropped: at most " + std::to_string(responseview::MaxKept) + " are kept.";
    LabStatus->setText(QString::fromStdString(status));
    RefreshList();
    InvRectResponse();
}

const responseview::Kept* TFormResponse::Current() const
{
    return kept.Empty() ? nullptr : &kept[kept.Size() - 1];
}

void TFormResponse::RefreshList()
{
    fillingList = true;
    ListKept->clear();
    for (const responseview::Kept& entry : kept.Entries()) {
        auto* item = new QTreeWidgetItem(ListKept);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
        item->setText(0, QString::fromStdString(entry.name));
        item->setCheckState(0, entry.shown ? Qt::Checked : Qt::Unchecked);
        QPixmap swatch(10, 10);
        swatch.fill(PaletteColor(entry.colour));
        item->setIcon(0, QIcon(swatch));
        if (entry.measurement) {
            const measure::ResponseMeasurement& m = *entry.measurement;
            item->setText(1, QString::fromStdString(responseview::DelayText(m.delayMs, m.delaySamples)));
            item->setText(
                2, QString::fromStdString(measure::FixedText(m.peakDb, 1) + " dB" + (m.clipped ? " clipped" : "")));
            if (m.clipped)
                item->setForeground(2, QColor(220, 30, 30));
        } else {
            item->setText(1, "file");
        }
    }
    if (!kept.Empty())
        ListKept->setCurrentItem(ListKept->topLevelItem(static_cast<int>(kept.Size()) - 1));
    fillingList = false;
}

void TFormResponse::DeleteKept(int index)
{
    if (kept.Remove(static_cast<std::size_t>(std::max(index, -1))))
        RefreshList(), InvRectResponse();
}

void TFormResponse::SetKeptShown(int index, bool shown)
{
    if (index < 0 || index >= static_cast<int>(kept.Size()))
        return;
    kept[index].shown = shown;
    InvRectResponse();
}

void TFormResponse::BtnDeleteClick()
{
    DeleteKept(ListKept->indexOfTopLevelItem(ListKept->currentItem()));
}

void TFormResponse::BtnMeasureClick()
{
    StartMeasurement();
}

std::string TFormResponse::LoadText(const QString& path)
{
    measure::ResponseParse parse = measure::LoadResponseFile(path.toStdString());
    if (!parse.ok)
        return parse.message;
    responseview::Kept result;
    result.name = QFileInfo(path).completeBaseName().toStdString();
    result.fromFile = true;
    result.hz = std::move(parse.curve.hz);
    result.magnitudeDb = std::move(parse.curve.db);
    result.unwrappedDegrees = Unwrap(parse.curve.degrees);
    result.phaseDegrees = std::move(parse.curve.degrees);
    KeepResult(std::move(result));
    return {};
}

std::string TFormResponse::SaveText(const QString& path)
{
    const responseview::Kept* current = Current();
    if (!current)
        return "nothing has been measured yet";
    measure::ResponseHeader header;
    header.program = "Sonalyx 2.0";
    header.date = current->date;
    header.name = current->name;
    header.delayMs = current->measurement ? current->measurement->delayMs : 0.0;
    header.levelDbfs = current->levelDbfs;
    header.smoothing = responseview::SmoothingFor(ResponseSmoothing);
    const measure::ResponseCurve curve = SmoothedCurve(*current, header.smoothing);
    return platform::ReplaceFileAtomically(path.toStdString(), measure::FormatResponseFile(header, curve));
}

std::string TFormResponse::SaveImpulse(const QString& path)
{
    const responseview::Kept* current = Current();
    if (!current || !current->measurement)
        return "the current curve has no impulse response (nothing measured, or read from a file)";
    const measure::ResponseMeasurement& m = *current->measurement;
    return platform::WriteFloatWav(path.toStdString(), measure::ImpulseFromZeroDelay(m),
                                   static_cast<int>(std::lround(m.sampleRate)));
}

void TFormResponse::SaveTextClick()
{
    const QString path = AskSaveFile("response.txt", "Response text files (*.txt)");
    if (path.isEmpty())
        return;
    if (const std::string why = SaveText(path); !why.empty())
        ReportSaveFailure(path, why);
}

void TFormResponse::SaveImpulseClick()
{
    const QString path = AskSaveFile("impulse.wav", "WAV files (*.wav)");
    if (path.isEmpty())
        return;
    if (const std::string why = SaveImpulse(path); !why.empty())
        ReportSaveFailure(path, why);
}

void TFormResponse::LoadTextClick()
{
    const QString path = QFileDialog::getOpenFileName(this, "Load Text", QString(),
                                                      "Response text files (*.txt);;All files (*)");
    if (path.isEmpty())
        return;
    if (const std::string why = LoadText(path); !why.empty())
        platform::ShowMessage("Could not load " + path.toStdString() + ": " + why);
}

void TFormResponse::AddExportActions(QMenu& menu)
{
    TViewForm::AddExportActions(menu);
    menu.addAction("Save as Text...", this, &TFormResponse::SaveTextClick);
    menu.addAction("Save Impulse as WAV...", this, &TFormResponse::SaveImpulseClick);
    menu.addAction("Load Text...", this, &TFormResponse::LoadTextClick);
}

responseview::PanelPlaces TFormResponse::Places() const
{
    const QSize size = PanelResponse->DeviceSize();
    bool coherence = false;
    if (ResponseView == responseview::ViewMagnitude)
        for (const responseview::Kept& entry : kept.Entries())
            coherence = coherence || (entry.shown && entry.measurement && !entry.measurement->coherence.empty());
    return responseview::LayoutPanel(size.width(), size.height(), coherence);
}

void TFormResponse::RenderResponse()
{
    QImage& picture = PanelResponse->Picture();
    picture.fill(ClearColor());
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const responseview::PanelPlaces places = Places();
    const Box& plot = places.plot;
    std::vector<std::pair<std::string, QColor>> legend;
    if (ResponseView == responseview::ViewImpulse) {
        const bool inDb = ResponseImpulseMode == responseview::ImpulseDb;
        const responseview::TimeRange times = ImpulseTimes(kept);
        std::vector<std::pair<ImpulseTrace, QColor>> traces;
        double peak = 0;
        for (const responseview::Kept& entry : kept.Entries())
            if (entry.shown && entry.measurement) {
                traces.emplace_back(TraceOf(entry, inDb), PaletteColor(entry.colour));
                legend.emplace_back(entry.name, PaletteColor(entry.colour));
                for (double s : entry.measurement->impulse.samples)
                    peak = std::max(peak, std::fabs(s));
            }
        responseview::ValueRange range{1.1 * (peak > 0 ? peak : 1.0), -1.1 * (peak > 0 ? peak : 1.0)};
        if (inDb) {
            const double top = peak > 0 ? std::ceil(20 * std::log10(peak) / 10.0) * 10.0 + 10.0 : 0.0;
            range = {top, top - 120};
        }
        const double step = inDb ? 20.0 : std::pow(10.0, std::floor(std::log10(range.top)));
        DrawValueGrid(painter, responseview::ValueTicks(range, step, plot), plot);
        painter.setFont(FrameFont("Tahoma", 10));
        for (const responseview::Tick& tick : responseview::TimeTicks(times, plot)) {
            painter.setPen(QPen(SchemeColor(ColorGrid), 1, Qt::DotLine));
            painter.drawLine(tick.place, plot.top, tick.place, plot.Bottom());
            painter.setPen(SchemeColor(ColorGridEmphasised));
            painter.drawText(QRect(tick.place - 24, plot.Bottom() + 2, 48, 14), Qt::AlignCenter,
                             QString::fromStdString(tick.text));
        }
        DrawGridFrame(painter, plot);
        DrawAxisLabel(painter, plot, inDb ? "Impulse response, dB (time in ms)" : "Impulse response (time in ms)");
        painter.setClipRect(plot.left, plot.top, plot.width, plot.height);
        for (const auto& [trace, colour] : traces) {
            painter.setPen(QPen(colour, 1));
            DrawStretches(painter, {responseview::ImpulseVertices(trace.values, trace.startMs, trace.msPerSample, times,
                                                                  range, plot)});
        }
        painter.setClipping(false);
    } else {
        const ViewCurves view = CurvesOf(kept, ResponseView);
        DrawValueGrid(painter, responseview::ValueTicks(view.range, view.step, plot), plot);
        DrawFrequencyGrid(painter, plot, !places.coherence);
        DrawGridFrame(painter, plot);
        DrawAxisLabel(painter, plot, view.axisLabel);
        for (const DrawnCurve& curve : view.curves) {
            painter.setPen(QPen(curve.colour, 1.5));
            DrawStretches(painter, responseview::CurveVertices(*curve.hz, curve.values, view.range, plot));
            legend.emplace_back(curve.name, curve.colour);
        }
        if (places.coherence) {
            const Box& strip = *places.coherence;
            const responseview::ValueRange unit{1.0, 0.0};
            DrawValueGrid(painter, responseview::ValueTicks(unit, 0.5, strip), strip);
            DrawFrequencyGrid(painter, strip, true);
            DrawGridFrame(painter, strip);
            painter.setPen(SchemeColor(ColorGridEmphasised));
            painter.drawText(QRect(strip.left + 4, strip.top + 1, 120, 14), Qt::AlignLeft | Qt::AlignVCenter,
                             "Coherence");
            for (const responseview::Kept& entry : kept.Entries())
                if (entry.shown && entry.measurement && !entry.measurement->coherence.empty()) {
                    painter.setPen(QPen(PaletteColor(entry.colour), 1));
                    DrawStretches(painter,
                                  responseview::CurveVertices(entry.hz, entry.measurement->coherence, unit, strip));
                }
        }
        if (view.curves.empty()) {
            painter.setPen(SchemeColor(ColorGridEmphasised));
            painter.setFont(FrameFont("Tahoma", 12));
            painter.drawText(QRect(plot.left, plot.top, plot.width, plot.height), Qt::AlignCenter,
                             kept.Empty() ? "Choose the devices and press Measure" : "No curve to show");
        }
    }
    DrawLegend(painter, legend, plot);
}

QString TFormResponse::ReadoutText(QPoint pointer)
{
    const double ratio = PanelResponse->devicePixelRatioF();
    const double x = pointer.x() * ratio, y = pointer.y() * ratio;
    const responseview::PanelPlaces places = Places();
    if (!places.plot.Holds(static_cast<int>(x), static_cast<int>(y)))
        return {};
    if (ResponseView == responseview::ViewImpulse) {
        const responseview::TimeRange times = ImpulseTimes(kept);
        const double ms = responseview::ColumnTime(x, times, places.plot);
        const bool inDb = ResponseImpulseMode == responseview::ImpulseDb;
        std::string text = measure::FixedText(ms, 2) + " ms";
        for (const responseview::Kept& entry : kept.Entries()) {
            if (!entry.shown || !entry.measurement)
                continue;
            const ImpulseTrace trace = TraceOf(entry, inDb);
            const double at = std::round((ms - trace.startMs) / trace.msPerSample);
            text += "\n" + entry.name + ": ";
            if (at >= 0 && at < static_cast<double>(trace.values.size()))
                text += measure::FixedText(trace.values[static_cast<std::size_t>(at)], inDb ? 1 : 5) +
                        (inDb ? " dB" : "");
            else
                text += "-";
        }
        return QString::fromStdString(text);
    }
    const ViewCurves view = CurvesOf(kept, ResponseView);
    const double hz = responseview::ColumnFrequency(x, places.plot);
    std::vector<responseview::CurveValue> values;
    for (const DrawnCurve& curve : view.curves)
        values.push_back({curve.name, responseview::ValueAt(*curve.hz, curve.values, hz)});
    if (values.empty())
        values.push_back({"pointer", responseview::RowValue(y, view.range, places.plot)});
    return QString::fromStdString(responseview::HoverText(hz, values, view.unit, view.decimals));
}

void TFormResponse::DrawResponseFrame()
{
    EnsureCanvas();
    const int listLeft = std::max(200, width() - ListWidth);
    const QRect panel(0, StripHeight, std::max(1, listLeft - 4), std::max(1, height() - StripHeight));
    PanelResponse->setGeometry(panel);
    const int listHeight = std::max(60, (height() - StripHeight) / 2);
    ListKept->setGeometry(listLeft, StripHeight, ListWidth - 4, listHeight);
    BtnDelete->setGeometry(listLeft, StripHeight + listHeight + 4, 80, 22);
    LabStatus->setGeometry(listLeft, StripHeight + listHeight + 32, ListWidth - 8,
                           std::max(20, height() - StripHeight - listHeight - 36));
    QPainter painter(&Canvas());
    ClearFrameCanvas(painter, palette().window().color());
    painter.end();
    SetFrameMarker(Canvas());
    update(QRegion(rect()) - panel);
}

void TFormResponse::InvRectResponse()
{
    PanelResponse->Invalidate();
}

void TFormResponse::FormShow()
{
    TViewForm::FormShow();
    setWindowTitle("Response");
    if (!recording)
        FillDeviceBoxes();
    TimerDevices->start();
    ChoiceChange();
    DrawResponseFrame();
}

void TFormResponse::hideEvent(QHideEvent* event)
{
    if (!isMinimized()) { // closed: nothing more is played or recorded
        CancelMeasurement();
        TimerDevices->stop();
    }
    TViewForm::hideEvent(event);
}
