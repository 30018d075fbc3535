#include "meters/BandsForm.h"

#include "analysis/plotgeometry.h"
#include "measure/levels.h"
#include "meters/bandsgeometry.h"
#include "platform/atomicfile.h"
#include "platform/calibrations.h"
#include "state/global.h"
#include "views/framepaint.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <mutex>

namespace {

// Blocks are 4410 frames: one averaging step and peak decay step each.
constexpr double BlockSeconds = 0.1;

std::mutex meterLock; // the meter below, between the block path and the UI
std::unique_ptr<measure::BandMeter> meter;
std::atomic<bool> feeding{false}; // raised while the window is shown

measure::BandMeterChoices StoredChoices()
{
    measure::BandMeterChoices choices;
    choices.fraction = bandsview::FractionAt(BandsFraction);
    choices.averaging = static_cast<measure::Averaging>(std::clamp(BandsAveraging, 0, measure::AveragingCount - 1));
    choices.weighting = static_cast<measure::Weighting>(std::clamp(BandsWeighting, 0, measure::WeightingCount - 1));
    choices.peakDecay = measure::PeakDecayChoices[std::clamp(BandsPeakDecay, 0, measure::PeakDecayCount - 1)];
    return choices;
}

// The meter with the stored choices; made on first use. Caller holds meterLock.
measure::BandMeter& Meter()
{
    if (!meter)
        meter = std::make_unique<measure::BandMeter>(BlockSeconds, StoredChoices());
    return *meter;
}

QColor SchemeColor(int entry)
{
    return QColor(SchemeR[entry], SchemeG[entry], SchemeB[entry]);
}

// Margins of the plot inside the window: level labels left, band labels
// and the unit below.
constexpr int MarginLeft = 44, MarginRight = 8, MarginTop = 8, MarginBottom = 22;
constexpr int LabelWidth = 34;

} // namespace

void FeedBands(const int16_t* left, const int16_t* right, int frames)
{
    if (!feeding.load())
        return;
    std::lock_guard<std::mutex> guard(meterLock);
    // The window made the meter, from the UI thread's settings; without
    // it (the window gone) there is nothing to feed.
    if (meter)
        meter->AddBlock(left, right, frames);
}

void RestartBands()
{
    std::lock_guard<std::mutex> guard(meterLock);
    if (meter)
        meter->Restart();
}

TFormBands::TFormBands(QWidget* parent)
    : TViewForm("Octave Bands", {&BandsX, &BandsY, &BandsW, &BandsH, &BandsShow}, QSize(300, 200), parent)
{
    setFont(FrameFont("MS Sans Serif", 11));
    resize(BandsW, BandsH);
    PanelBands = new TPlotSurface("Octave Bands", this);
    PanelBands->SetCpuDrawing(true);
    PanelBands->OnRender = [this] { RenderBands(); };
    connect(PanelBands, &TPlotSurface::DblClick, this, &TFormBands::BandsScalesShow);
    BuildScalePanel();
    AttachReadout(PanelBands);
    LoadChoices();
}

TFormBands::~TFormBands()
{
    feeding = false;
    std::lock_guard<std::mutex> guard(meterLock);
    meter.reset();
}

void TFormBands::BuildScalePanel()
{
    PanelBandsScale = new TScalePanel(PanelBands, QRect(3, 3, 170, 236), QPoint(148, 0));
    QWidget* p = PanelBandsScale;
    const auto combo = [p](const QRect& geometry) {
        auto* box = new QComboBox(p);
        box->setFont(FrameFont("Tahoma", 11));
        box->setGeometry(geometry);
        return box;
    };
    ComboFraction = combo(QRect(6, 18, 136, 22));
    for (int fraction : measure::BandFractions)
        ComboFraction->addItem(QString::fromStdString(bandsview::FractionName(fraction)));
    ComboAveraging = combo(QRect(6, 44, 136, 22));
    for (int i = 0; i < measure::AveragingCount; ++i)
        ComboAveraging->addItem(measure::AveragingName(static_cast<measure::Averaging>(i)));
    ComboWeighting = combo(QRect(6, 70, 60, 22));
    for (int i = 0; i < measure::WeightingCount; ++i)
        ComboWeighting->addItem(measure::WeightingName(static_cast<measure::Weighting>(i)));
    BtnReset = new QPushButton("Reset", p);
    BtnReset->setGeometry(76, 70, 66, 22);
    CheckPeak = new QCheckBox("Peak", p);
    CheckPeak->setGeometry(6, 96, 60, 22);
    ComboDecay = combo(QRect(66, 96, 76, 22));
    for (double decay : measure::PeakDecayChoices)
        ComboDecay->addItem(decay == 0.0 ? QString("Hold") : QString::number(decay) + " dB/s");
    PanelLabel(p, "Top, dBFS", QRect(6, 124, 0, 0), 11);
    TrackBarTop = PanelTrackBar(p, Qt::Horizontal, 0, static_cast<int>(std::size(bandsview::TopChoices)) - 1, 0,
                                QRect(6, 138, 136, 24));
    PanelLabel(p, "Span, dB", QRect(6, 166, 0, 0), 11);
    TrackBarSpan = PanelTrackBar(p, Qt::Horizontal, 0, static_cast<int>(std::size(bandsview::SpanChoices)) - 1, 0,
                                 QRect(6, 180, 136, 24));
    CheckSpl = new QCheckBox("dB SPL when calibrated", p);
    CheckSpl->setGeometry(6, 208, 156, 22);
    for (QComboBox* box : {ComboFraction, ComboAveraging, ComboWeighting, ComboDecay})
        connect(box, &QComboBox::currentIndexChanged, this, &TFormBands::ChoiceChange);
    connect(CheckPeak, &QCheckBox::toggled, this, &TFormBands::ChoiceChange);
    connect(CheckSpl, &QCheckBox::toggled, this, &TFormBands::ChoiceChange);
    connect(TrackBarTop, &QSlider::valueChanged, this, &TFormBands::ChoiceChange);
    connect(TrackBarSpan, &QSlider::valueChanged, this, &TFormBands::ChoiceChange);
    connect(BtnReset, &QPushButton::clicked, this, &TFormBands::BtnResetClick);
    connect(PanelBandsScale->BtnClose, &QAbstractButton::clicked, PanelBandsScale, &QWidget::hide);
    connect(PanelBandsScale, &TScalePanel::MouseDown, this,
            [](Qt::MouseButton b, QPoint at) { ScalePanelMouseDown(b, at); });
    connect(PanelBandsScale, &TScalePanel::MouseMove, this,
            [this](QPoint at) { ScalePanelMouseMove(PanelBandsScale, at); });
    connect(PanelBandsScale, &TScalePanel::MouseUp, this, [](Qt::MouseButton, QPoint) { ScalePanelMouseUp(); });
    PanelBandsScale->hide();
}

void TFormBands::LoadChoices()
{
    const QSignalBlocker b1(ComboFraction), b2(ComboAveraging), b3(ComboWeighting), b4(ComboDecay), b5(CheckPeak),
        b6(TrackBarTop), b7(TrackBarSpan), b8(CheckSpl);
    ComboFraction->setCurrentIndex(std::clamp(BandsFraction, 0, measure::BandFractionCount - 1));
    ComboAveraging->setCurrentIndex(BandsAveraging);
    ComboWeighting->setCurrentIndex(BandsWeighting);
    ComboDecay->setCurrentIndex(BandsPeakDecay);
    ComboDecay->setEnabled(BandsPeak);
    CheckPeak->setChecked(BandsPeak);
    CheckSpl->setChecked(BandsSpl);
    const auto at = [](const auto& table, int value) {
        return static_cast<int>(std::find(std::begin(table), std::end(table), value) - std::begin(table));
    };
    TrackBarTop->setValue(at(bandsview::TopChoices, BandsTop));
    TrackBarSpan->setValue(at(bandsview::SpanChoices, BandsSpan));
    std::lock_guard<std::mutex> guard(meterLock);
    Meter().SetChoices(StoredChoices());
}

void TFormBands::ChoiceChange()
{
    BandsFraction = ComboFraction->currentIndex();
    BandsAveraging = ComboAveraging->currentIndex();
    BandsWeighting = ComboWeighting->currentIndex();
    BandsPeakDecay = ComboDecay->currentIndex();
    BandsPeak = CheckPeak->isChecked();
    BandsSpl = CheckSpl->isChecked();
    BandsTop = bandsview::TopChoices[TrackBarTop->value()];
    BandsSpan = bandsview::SpanChoices[TrackBarSpan->value()];
    ComboDecay->setEnabled(BandsPeak);
    {
        std::lock_guard<std::mutex> guard(meterLock);
        Meter().SetChoices(StoredChoices());
        reading = Meter().Read();
    }
    bandsview::SubtractMicResponse(reading, micResponse);
    DrawBandsFrame();
    InvRectBands();
}

void TFormBands::BtnResetClick()
{
    {
        std::lock_guard<std::mutex> guard(meterLock);
        Meter().Reset();
    }
    InvRectBands();
}

void TFormBands::DrawBandsFrame()
{
    EnsureCanvas();
    const PlotRect plot{MarginLeft, width() - 1 - MarginRight, MarginTop, height() - 1 - MarginBottom};
    const QRect panel = PlotPanelRect(plot);
    PanelBands->setGeometry(panel);
    const int plotHeight = panel.height();
    const platform::DeviceCalibration calibration = platform::LoadCalibration(DeviceName);
    splOffset = BandsSpl ? calibration.offsetDb : std::nullopt;
    micResponse = {};
    if (!calibration.micFile.empty())
        if (const measure::MicParse parse = measure::LoadMicResponse(calibration.micFile); parse.ok)
            micResponse = parse.response;
    const auto bands = measure::OctaveBands(bandsview::FractionAt(BandsFraction));
    std::vector<FrameText> texts;
    for (int db : bandsview::GridLevels(BandsTop, BandsSpan)) {
        const int row = bandsview::LevelRow(db, BandsTop, BandsSpan, plotHeight);
        texts.push_back({4, plot.top + row - 6, bandsview::GridLabel(db, splOffset)});
    }
    for (int band : bandsview::LabelledBands(bands, panel.width(), LabelWidth)) {
        const auto span = bandsview::BarColumns(band, static_cast<int>(bands.size()), panel.width(), 0, false);
        const std::string label = measure::NominalText(bands[band].nominalHz);
        const int middle = plot.left + (span.left + span.right) / 2;
        texts.push_back({middle - 3 * static_cast<int>(label.size()), plot.bottom + 4, label});
    }
    texts.push_back({2, plot.bottom + 4, bandsview::UnitLabel(BandsWeighting, splOffset)});
    QPainter painter(&Canvas());
    ClearFrameCanvas(painter, palette().window().color());
    painter.setFont(font());
    BeginFrameText(painter);
    DrawFrameTexts(painter, texts);
    painter.end();
    SetFrameMarker(Canvas());
    update(QRegion(rect()) - panel);
}

void TFormBands::InvRectBands()
{
    PanelBands->Invalidate();
}

void TFormBands::RenderBands()
{
    {
        std::lock_guard<std::mutex> guard(meterLock);
        reading = Meter().Read();
    }
    bandsview::SubtractMicResponse(reading, micResponse);
    QImage& picture = PanelBands->Picture();
    const PlotRgba clear = SchemeClearColor(LightBackground);
    picture.fill(QColor::fromRgbF(clear.r, clear.g, clear.b));
    const int w = picture.width(), h = picture.height();
    QPainter painter(&picture);
    painter.setPen(QPen(SchemeColor(ColorGrid), 1, Qt::DotLine));
    for (int db : bandsview::GridLevels(BandsTop, BandsSpan)) {
        const int row = bandsview::LevelRow(db, BandsTop, BandsSpan, h);
        painter.drawLine(0, row, w - 1, row);
    }
    const bool shown[2] = {ShowLeft.load(), ShowRight.load()};
    const bool both = shown[0] && shown[1];
    const int count = static_cast<int>(reading.bands.size());
    const int colours[2] = {ColorLeft, ColorRight};
    for (int channel = 0; channel < 2; ++channel) {
        if (!shown[channel] || reading.levelDb[channel].size() != reading.bands.size())
            continue;
        const QColor colour = SchemeColor(colours[channel]);
        QColor dim = colour;
        dim.setAlpha(150);
        for (int band = 0; band < count; ++band) {
            const auto span = bandsview::BarColumns(band, count, w, channel, both);
            if (span.right < span.left)
                continue;
            const int top = bandsview::LevelRow(reading.levelDb[channel][band], BandsTop, BandsSpan, h);
            if (top < h)
                painter.fillRect(span.left, top, span.right - span.left + 1, h - top, colour);
            if (BandsPeak) {
                const int peak = bandsview::LevelRow(reading.peakDb[channel][band], BandsTop, BandsSpan, h);
                if (peak < h)
                    painter.fillRect(span.left, peak, span.right - span.left + 1, 2, dim);
            }
        }
    }
}

void TFormBands::FormShow()
{
    TViewForm::FormShow();
    setWindowTitle("Octave Bands");
    DrawBandsFrame();
}

void TFormBands::BandsScalesShow()
{
    PanelBandsScale->ShowAtHome();
    DrawBandsFrame();
}

QString TFormBands::ReadoutText(QPoint pointer)
{
    const int count = static_cast<int>(reading.bands.size());
    const int band = bandsview::BandAtColumn(pointer.x(), count, PanelBands->width());
    if (band < 0)
        return {};
    const auto level = [&](int channel, bool shown) {
        return shown && reading.levelDb[channel].size() == reading.bands.size()
                   ? std::optional<double>(reading.levelDb[channel][band])
                   : std::nullopt;
    };
    return QString::fromStdString(bandsview::ReadoutText(reading.bands[band], level(0, ShowLeft.load()),
                                                         level(1, ShowRight.load()), splOffset,
                                                         bandsview::UnitLabel(BandsWeighting, splOffset)));
}

std::string TFormBands::SaveBands(const QString& path)
{
    const measure::BandMeterChoices choices = StoredChoices();
    const bandsview::CsvContext context{choices.fraction, choices.weighting, measure::AveragingName(choices.averaging),
                                        reading.blocks,
                                        QDateTime::currentDateTime().toString(Qt::ISODate).toStdString()};
    const std::string csv = bandsview::BandsCsv(reading.bands, reading.levelDb[0], reading.levelDb[1], context);
    return platform::ReplaceFileAtomically(path.toStdString(), csv);
}

void TFormBands::SaveBandsClick()
{
    const QString path = AskSaveFile("bands.csv", "CSV files (*.csv)");
    if (path.isEmpty())
        return;
    if (const std::string why = SaveBands(path); !why.empty())
        ReportSaveFailure(path, why);
}

void TFormBands::AddExportActions(QMenu& menu)
{
    TViewForm::AddExportActions(menu);
    menu.addAction("Save Bands as CSV...", this, &TFormBands::SaveBandsClick);
}

void TFormBands::showEvent(QShowEvent* event)
{
    TViewForm::showEvent(event);
    feeding = true;
}

void TFormBands::hideEvent(QHideEvent* event)
{
    feeding = false;
    TViewForm::hideEvent(event);
}

void TFormBands::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_R && event->modifiers() == Qt::NoModifier) {
        BtnResetClick();
        return;
    }
    TViewForm::keyPressEvent(event);
}
