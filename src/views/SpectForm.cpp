#include "views/SpectForm.h"

#include "analysis/SpectGraph.h"
#include "analysis/readout.h"
#include "analysis/spectinstruments.h"
#include "measure/averaging.h"
#include "measure/micresponse.h"
#include "measure/peakhold.h"
#include "measure/weighting.h"
#include "platform/atomicfile.h"
#include "platform/calibrations.h"
#include "state/usable.h"
#include "views/framepaint.h"

#include <GL/gl.h>

#include <QAction>
#include <QActionGroup>
#include <QDateTime>
#include <QEvent>
#include <QShowEvent>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

measure::Averaging ChosenAveraging()
{
    return static_cast<measure::Averaging>(std::clamp(SpectAveraging, 0, measure::AveragingCount - 1));
}

measure::Weighting ChosenWeighting()
{
    return static_cast<measure::Weighting>(std::clamp(SpectWeighting, 0, measure::WeightingCount - 1));
}

// The slices the shown average holds: a linear average's last N of those
// fed since the reset, every one of them for the others.
int64_t SlicesInAverage(measure::Averaging averaging, int64_t fed)
{
    const int length = measure::AveragingLength(averaging);
    return length > 0 ? std::min<int64_t>(fed, length) : fed;
}

double ChosenDecay()
{
    return measure::PeakDecayChoices[std::clamp(SpectPeakDecay, 0, measure::PeakDecayCount - 1)];
}

QString DecayText(int index)
{
    const double rate = measure::PeakDecayChoices[index];
    return rate == 0 ? QString("Hold") : QString("Fall %1 dB/s").arg(rate);
}

QComboBox* PanelComboBox(QWidget* parent, const QRect& geometry, const QStringList& items)
{
    auto* box = new QComboBox(parent);
    box->setFont(FrameFont("Tahoma", 12));
    box->addItems(items);
    box->setGeometry(geometry);
    return box;
}

} // namespace

TFormSpect::TFormSpect(QWidget* parent)
    : TViewForm("Spectrum", {&SpectX, &SpectY, &SpectW, &SpectH, &SpectShow}, QSize(310, 270), parent)
{
    setFont(FrameFont("MS Sans Serif", 11));
    resize(670, 456);
    PanelSpec = new TPlotSurface("Spectrum", this);
    PanelSpec->OnRender = [this] { FormPaint(); };
    connect(PanelSpec, &TPlotSurface::DblClick, this, &TFormSpect::PanelSpecDblClick);
    BuildScalePanel();
    AttachReadout(PanelSpec);
    connect(PanelSpec, &TPlotSurface::Rendered, this, &TFormSpect::DrawPeakLine);
    connect(PanelSpec, &TPlotSurface::Rendered, this, &TFormSpect::ShowAveragedCount);
    auto* reset = new QAction(this);
    reset->setShortcut(Qt::Key_R);
    reset->setShortcutContext(Qt::WindowShortcut);
    addAction(reset);
    connect(reset, &QAction::triggered, this, &TFormSpect::BtnResetClick);
    FormCreate();
}

TFormSpect::~TFormSpect()
{
    SpectInstrumentsFed = false;
}

void TFormSpect::BuildScalePanel()
{
    PanelSpectScale = new TScalePanel(PanelSpec, QRect(3, 3, 300, 170), QPoint(278, 0));
    QWidget* p = PanelSpectScale;
    LabY = PanelLabel(p, "Amplitude, %", QRect(10, 0, 0, 0), 12);
    TrackBarFY = PanelTrackBar(p, Qt::Vertical, 1, 9, 1, QRect(5, 16, 26, 130));
    LabAmpl = PanelLabel(p, "100 50 20 10  5    2    1   0.5  0.2", QRect(35, 22, 21, 117), 11, true);
    CheckLnSnd = new TWrapCheckBox("Ln Ampl Ln Freq", p);
    CheckLnSnd->setFont(FrameFont("Tahoma", 12));
    CheckLnSnd->setGeometry(80, 56, 69, 39);
    CheckLnSnd->setChecked(true);
    CheckPeak = new TWrapCheckBox("Show Peak", p);
    CheckPeak->setFont(FrameFont("Tahoma", 12));
    CheckPeak->setGeometry(80, 22, 69, 30);
    LabFX = PanelLabel(p, "Frequency, kHz", QRect(62, 116, 0, 0), 12);
    TrackBarFX = PanelTrackBar(p, Qt::Horizontal, 1, 5, 5, QRect(56, 130, 91, 26));
    LabFreq = PanelLabel(p, "1   2    5   10  20", QRect(63, 154, 0, 0), 11);
    connect(CheckLnSnd, &QCheckBox::toggled, this, &TFormSpect::CheckLnSndClick);
    connect(CheckPeak, &QCheckBox::toggled, this, &TFormSpect::CheckPeakClick);
    connect(TrackBarFX, &QSlider::valueChanged, this, &TFormSpect::TrackBarFXChange);
    connect(TrackBarFY, &QSlider::valueChanged, this, &TFormSpect::TrackBarFYChange);
    connect(PanelSpectScale->BtnClose, &QAbstractButton::clicked, this, &TFormSpect::BtnCloseClick);
    connect(PanelSpectScale, &TScalePanel::MouseDown, this, &TFormSpect::PanelSpectScaleMouseDown);
    connect(PanelSpectScale, &TScalePanel::MouseMove, this, &TFormSpect::PanelSpectScaleMouseMove);
    connect(PanelSpectScale, &TScalePanel::MouseUp, this, &TFormSpect::PanelSpectScaleMouseUp);
    BuildInstrumentControls(p);
}

// The panel's second column.
void TFormSpect::BuildInstrumentControls(QWidget* p)
{
    QStringList averagings;
    for (int i = 0; i < measure::AveragingCount; ++i)
        averagings << measure::AveragingName(static_cast<measure::Averaging>(i));
    QStringList decays;
    for (int i = 0; i < measure::PeakDecayCount; ++i)
        decays << DecayText(i);
    PanelLabel(p, "Averaging", QRect(158, 4, 0, 0), 12);
    CmbAveraging = PanelComboBox(p, QRect(156, 20, 136, 22), averagings);
    BtnReset = new QPushButton("Reset", p);
    BtnReset->setFont(FrameFont("Tahoma", 12));
    BtnReset->setGeometry(156, 46, 50, 22);
    BtnReset->setToolTip("Start the average and the held peaks again (R)");
    LabCount = PanelLabel(p, "", QRect(212, 50, 80, 16), 11);
    CheckPeakHold = new TWrapCheckBox("Peak Hold", p);
    CheckPeakHold->setFont(FrameFont("Tahoma", 12));
    CheckPeakHold->setGeometry(156, 74, 136, 20);
    CmbDecay = PanelComboBox(p, QRect(156, 96, 136, 22), decays);
    PanelLabel(p, "Weighting", QRect(158, 128, 0, 0), 12);
    CmbWeighting = PanelComboBox(p, QRect(222, 124, 70, 22), {"Z (none)", "A", "C"});
    connect(CmbAveraging, &QComboBox::currentIndexChanged, this, &TFormSpect::CmbAveragingChange);
    connect(BtnReset, &QAbstractButton::clicked, this, &TFormSpect::BtnResetClick);
    connect(CheckPeakHold, &QCheckBox::toggled, this, &TFormSpect::CheckPeakHoldClick);
    connect(CmbDecay, &QComboBox::currentIndexChanged, this, &TFormSpect::CmbDecayChange);
    CheckSpl = new TWrapCheckBox("dB SPL when calibrated", p);
    CheckSpl->setFont(FrameFont("Tahoma", 12));
    CheckSpl->setGeometry(156, 148, 140, 20);
    connect(CmbWeighting, &QComboBox::currentIndexChanged, this, &TFormSpect::CmbWeightingChange);
    connect(CheckSpl, &QCheckBox::toggled, this, &TFormSpect::CheckSplClick);
}

void TFormSpect::FormCreate()
{
    BinWidth = 10.7666f;
    CheckLnSnd->setChecked(SpectIsLn);
    CheckPeak->setChecked(SpectShowPeak);
    TrackBarFX->setEnabled(!SpectIsLn);
    TrackBarFY->setEnabled(!SpectIsLn);
    if (const int position = SpectRangeXPosition(SpectRangeX))
        TrackBarFX->setValue(position);
    if (const int position = SpectRangeYPosition(SpectRangeY))
        TrackBarFY->setValue(position);
    // The stored choices may be any number; the controls show usable ones.
    const QSignalBlocker averaging(CmbAveraging), peakHold(CheckPeakHold), decay(CmbDecay), weighting(CmbWeighting),
        spl(CheckSpl);
    CmbAveraging->setCurrentIndex(static_cast<int>(ChosenAveraging()));
    CheckPeakHold->setChecked(SpectPeakHold);
    CmbDecay->setCurrentIndex(std::clamp(SpectPeakDecay, 0, measure::PeakDecayCount - 1));
    CmbDecay->setEnabled(SpectPeakHold);
    CmbWeighting->setCurrentIndex(static_cast<int>(ChosenWeighting()));
    CheckSpl->setChecked(SpectSpl);
    ApplyInstruments();
}

void TFormSpect::ApplyInstruments()
{
    {
        std::lock_guard<std::mutex> guard(DataLock);
        ChooseSpectInstruments(ChosenAveraging(), SpectPeakHold, ChosenDecay());
    }
    BtnReset->setEnabled(ChosenAveraging() != measure::Averaging::Off || SpectPeakHold);
    ShowAveragedCount();
}

void TFormSpect::FollowCalibration()
{
    const platform::DeviceCalibration calibration = platform::LoadCalibration(DeviceName);
    splOffset = SpectSpl ? calibration.offsetDb : std::nullopt;
    measure::MicResponse mic;
    if (!calibration.micFile.empty())
        if (const measure::MicParse parse = measure::LoadMicResponse(calibration.micFile); parse.ok)
            mic = parse.response;
    std::lock_guard<std::mutex> guard(DataLock);
    SetSpectMicResponse(mic);
}

readout::LevelScale TFormSpect::LevelScale() const
{
    return splOffset ? readout::SplScale(*splOffset, static_cast<int>(ChosenWeighting())) : readout::LevelScale{};
}

void TFormSpect::DrawSpectFrame()
{
    EnsureCanvas();
    FollowCalibration();
    const PlotRect plot = SpectPlotRect(width(), height(), SpectShowPeak);
    SetPlotRect(plot);
    const QRect panel = PlotPanelRect(plot);
    PanelSpec->setGeometry(panel);
    LnScaleX = FrameLnScaleX(plot);
    QPainter painter(&Canvas());
    ClearFrameCanvas(painter, palette().window().color());
    DrawShading(painter, ShadingLines(plot, SpectShading()));
    painter.setFont(font());
    BeginFrameText(painter);
    if (SpectIsLn)
        DrawFrameTexts(painter, SpectLogLabels(plot, splOffset));
    else
        DrawFrameTexts(painter,
                       SpectLinearLabels(plot, UsableSpectRangeY(SpectRangeY), UsableSpectRangeX(SpectRangeX)));
    DrawChannelLegend(painter, plot);
    if (SpectIsLn && splOffset)
        DrawFrameText(painter, SpectUnitLabel(plot, LevelScale().unit));
    else if (ChosenWeighting() != measure::Weighting::Z)
        DrawFrameText(painter, SpectWeightingLabel(plot, SpectIsLn, measure::WeightingName(ChosenWeighting())));
    painter.end();
    DrawPeakLine();
    SetFrameMarker(Canvas());
    update(QRegion(rect()) - panel); // the plot repaints on its own
}

void TFormSpect::InvRectSpect()
{
    PanelSpec->Invalidate();
}

void TFormSpect::CopyShownSpectra()
{
    const measure::Weighting weighting = ChosenWeighting();
    std::lock_guard<std::mutex> guard(DataLock);
    for (int channel = 0; channel < 2; ++channel) {
        SpectShownRow(channel + 1, weighting, rows[channel]);
        peaksHeld[channel] = SpectPeakRow(channel + 1, weighting, peakRows[channel]);
    }
    averagedSlices = SpectAveragedSlices();
}

void TFormSpect::DrawPeakTraces(const std::function<void(const float*)>& makeTrace)
{
    for (int channel = 0; channel < 2; ++channel) {
        if (!peaksHeld[channel] || !(channel == 0 ? ShowLeft : ShowRight))
            continue;
        makeTrace(peakRows[channel]);
        LiftOntoBottomRow(trace, PanelSpec->height());
        plotgl::DimLineStrip(trace, channel == 0 ? ColorLeft : ColorRight);
    }
}

void TFormSpect::RenderSpectLinear()
{
    if (!PanelSpec->Rendering()) {
        PanelSpec->RequestRender();
        return;
    }
    const int32_t rangeX = UsableSpectRangeX(SpectRangeX);
    const float rangeY = UsableSpectRangeY(SpectRangeY);
    CopyShownSpectra();
    plotgl::BeginGrid();
    plotgl::Lines(SpectLinearGrid(), ColorGrid);
    plotgl::BeginTraces();
    DrawPeakTraces([&](const float* row) { SpectLinearTrace(row, rangeX, rangeY, trace); });
    if (ShowLeft) {
        SpectLinearTrace(rows[0], rangeX, rangeY, trace);
        LiftOntoBottomRow(trace, PanelSpec->height());
        plotgl::LineStrip(trace, ColorLeft);
    }
    if (ShowRight) {
        SpectLinearTrace(rows[1], rangeX, rangeY, trace);
        LiftOntoBottomRow(trace, PanelSpec->height());
        plotgl::LineStrip(trace, ColorRight);
    }
}

void TFormSpect::RenderSpectLog()
{
    if (!PanelSpec->Rendering()) {
        PanelSpec->RequestRender();
        return;
    }
    LnScaleX = RenderLnScaleX();
    LnScaleY = RenderLnScaleY();
    CopyShownSpectra();
    plotgl::BeginGrid();
    plotgl::Lines(SpectLogHorizontalGrid(), ColorGrid);
    glBegin(GL_LINES);
    for (const GridLine& line : SpectLogVerticalGrid()) {
        plotgl::Color(line.colorEntry);
        glVertex2f(line.a.x, line.a.y);
        glVertex2f(line.b.x, line.b.y);
    }
    glEnd();
    plotgl::BeginTraces();
    DrawPeakTraces([&](const float* row) { SpectLogTrace(row, trace); });
    if (ShowLeft) {
        SpectLogTrace(rows[0], trace);
        LiftOntoBottomRow(trace, PanelSpec->height());
        plotgl::LineStrip(trace, ColorLeft);
    }
    if (ShowRight) {
        SpectLogTrace(rows[1], trace);
        LiftOntoBottomRow(trace, PanelSpec->height());
        plotgl::LineStrip(trace, ColorRight);
    }
}

void TFormSpect::FormShow()
{
    TViewForm::FormShow();
    setWindowTitle("Spectrum");
    DrawSpectFrame();
}

void TFormSpect::FormActivate()
{
    DrawSpectFrame();
}

void TFormSpect::FormPaint()
{
    if (SpectIsLn)
        RenderSpectLog();
    else
        RenderSpectLinear();
}

void TFormSpect::FormResize()
{
    DrawSpectFrame();
}

void TFormSpect::PanelSpecDblClick()
{
    SpectScalesShow();
}

void TFormSpect::SpectScalesShow()
{
    PanelSpectScale->ShowAtHome();
    DrawSpectFrame();
}

void TFormSpect::CheckLnSndClick()
{
    SpectIsLn = CheckLnSnd->isChecked();
    TrackBarFX->setEnabled(!SpectIsLn);
    TrackBarFY->setEnabled(!SpectIsLn);
    DrawSpectFrame();
}

void TFormSpect::CheckPeakClick()
{
    SpectShowPeak = CheckPeak->isChecked();
    DrawSpectFrame();
}

void TFormSpect::DrawPeakLine()
{
    if (!SpectShowPeak || Canvas().isNull()) {
        peakLine.clear();
        return;
    }
    const QRect line(0, height() - PeakLineHeight, width(), PeakLineHeight);
    std::string text;
    for (int channel = 0; channel < 2; ++channel) {
        if (!(channel == 0 ? ShowLeft : ShowRight))
            continue;
        if (const auto peak = readout::InterpolatedPeak(rows[channel], BinWidth))
            text += readout::PeakText(channel == 0 ? 'L' : 'R', *peak, LevelScale()) + "    ";
    }
    QPainter painter(&Canvas());
    painter.fillRect(line, palette().window().color());
    painter.setFont(font());
    BeginFrameText(painter);
    DrawFrameText(painter, {25, line.top(), text});
    peakLine = text;
    painter.end();
    SetFrameMarker(Canvas());
    update(line);
}

QString TFormSpect::ReadoutText(QPoint pointer)
{
    const double x = PixelCentreNdcX(pointer.x(), PanelSpec->width());
    const double hz = SpectIsLn ? readout::SpectLogHzAt(x)
                                : readout::SpectLinearHzAt(x, UsableSpectRangeX(SpectRangeX));
    const int bin = readout::NearestBin(hz, BinWidth);
    const auto drawn = [this, bin](int channel, bool shown) {
        return shown ? std::optional<float>(rows[channel][bin]) : std::nullopt;
    };
    return QString::fromStdString(
        readout::SpectText(hz, SpectIsLn, drawn(0, ShowLeft), drawn(1, ShowRight), LevelScale()));
}

std::string TFormSpect::SaveSpectrum(const QString& path)
{
    const measure::Averaging averaging = ChosenAveraging();
    const readout::SpectrumNotes notes{
        measure::AveragingName(averaging),
        averaging == measure::Averaging::Off ? 1 : SlicesInAverage(averaging, averagedSlices),
        measure::WeightingName(ChosenWeighting())};
    const std::string csv = readout::SpectrumCsv(rows[0], rows[1], BinWidth, WindowFunction.load(),
                                                 QDateTime::currentDateTime().toString(Qt::ISODate).toStdString(),
                                                 notes);
    return platform::ReplaceFileAtomically(path.toStdString(), csv);
}

void TFormSpect::SaveSpectrumClick()
{
    const QString path = AskSaveFile("spectrum.csv", "CSV files (*.csv)");
    if (path.isEmpty())
        return;
    if (const std::string why = SaveSpectrum(path); !why.empty())
        ReportSaveFailure(path, why);
}

void TFormSpect::AddExportActions(QMenu& menu)
{
    AddInstrumentActions(menu);
    menu.addSeparator();
    TViewForm::AddExportActions(menu);
    menu.addAction("Save Spectrum as CSV...", this, &TFormSpect::SaveSpectrumClick);
}

namespace {
// A submenu of exclusive choices that mirrors a combo box of the panel.
void AddChoiceMenu(QMenu& menu, const QString& title, QComboBox* box)
{
    QMenu* choices = menu.addMenu(title);
    auto* group = new QActionGroup(choices);
    for (int i = 0; i < box->count(); ++i) {
        QAction* action = choices->addAction(box->itemText(i), box, [box, i] { box->setCurrentIndex(i); });
        action->setCheckable(true);
        action->setChecked(i == box->currentIndex());
        action->setEnabled(box->isEnabled());
        group->addAction(action);
    }
}
} // namespace

void TFormSpect::AddInstrumentActions(QMenu& menu)
{
    AddChoiceMenu(menu, "Averaging", CmbAveraging);
    QAction* reset = menu.addAction("Reset Average and Peaks", this, &TFormSpect::BtnResetClick);
    reset->setShortcut(Qt::Key_R);
    reset->setEnabled(BtnReset->isEnabled());
    QAction* peakHold = menu.addAction("Peak Hold", CheckPeakHold, &QAbstractButton::toggle);
    peakHold->setCheckable(true);
    peakHold->setChecked(CheckPeakHold->isChecked());
    AddChoiceMenu(menu, "Peak Decay", CmbDecay);
    AddChoiceMenu(menu, "Weighting", CmbWeighting);
}

void TFormSpect::CmbAveragingChange(int index)
{
    SpectAveraging = index;
    ApplyInstruments();
    InvRectSpect();
}

void TFormSpect::BtnResetClick()
{
    ResetInstruments();
}

void TFormSpect::ResetInstruments()
{
    {
        std::lock_guard<std::mutex> guard(DataLock);
        ResetSpectInstruments();
    }
    ShowAveragedCount();
    InvRectSpect();
}

void TFormSpect::CheckPeakHoldClick()
{
    SpectPeakHold = CheckPeakHold->isChecked();
    CmbDecay->setEnabled(SpectPeakHold);
    ApplyInstruments();
    InvRectSpect();
}

void TFormSpect::CmbDecayChange(int index)
{
    SpectPeakDecay = index;
    ApplyInstruments();
}

void TFormSpect::CmbWeightingChange(int index)
{
    SpectWeighting = index;
    DrawSpectFrame();
    InvRectSpect();
}

void TFormSpect::CheckSplClick()
{
    SpectSpl = CheckSpl->isChecked();
    DrawSpectFrame();
    InvRectSpect();
}

void TFormSpect::ShowAveragedCount()
{
    const measure::Averaging averaging = ChosenAveraging();
    const QString text = averaging != measure::Averaging::Off
                             ? QString("%1 slices").arg(SlicesInAverage(averaging, averagedSlices))
                             : QString();
    if (LabCount->text() != text)
        LabCount->setText(text);
}

void TFormSpect::TrackBarFXChange(int position)
{
    SpectRangeX = SpectRangeXAt(position);
    DrawSpectFrame();
    if (!SpectIsLn)
        RenderSpectLinear();
}

void TFormSpect::TrackBarFYChange(int position)
{
    SpectRangeY = SpectRangeYAt(position);
    DrawSpectFrame();
    if (!SpectIsLn)
        RenderSpectLinear();
}

void TFormSpect::BtnCloseClick()
{
    PanelSpectScale->hide();
}

void TFormSpect::PanelSpectScaleMouseDown(Qt::MouseButton button, QPoint position)
{
    ScalePanelMouseDown(button, position);
}

void TFormSpect::PanelSpectScaleMouseMove(QPoint position)
{
    ScalePanelMouseMove(PanelSpectScale, position);
}

void TFormSpect::PanelSpectScaleMouseUp(Qt::MouseButton, QPoint)
{
    ScalePanelMouseUp();
}

void TFormSpect::changeEvent(QEvent* event)
{
    TViewForm::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TFormSpect::showEvent(QShowEvent* event)
{
    TViewForm::showEvent(event);
    // Shown again after it was closed: the averages start from now. A
    // restore from minimised carries on.
    if (!event->spontaneous())
        ResetInstruments();
    SpectInstrumentsFed = true;
}

void TFormSpect::hideEvent(QHideEvent* event)
{
    SpectInstrumentsFed = false;
    TViewForm::hideEvent(event);
}

void TFormSpect::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FormResize();
}
