#include "views/SpectForm.h"

#include "analysis/SpectGraph.h"
#include "analysis/readout.h"
#include "platform/atomicfile.h"
#include "state/usable.h"
#include "views/framepaint.h"

#include <GL/gl.h>

#include <QDateTime>
#include <QEvent>

#include <cstring>
#include <mutex>

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
    FormCreate();
}

void TFormSpect::BuildScalePanel()
{
    PanelSpectScale = new TScalePanel(PanelSpec, QRect(3, 3, 150, 170), QPoint(128, 0));
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
}

void TFormSpect::DrawSpectFrame()
{
    EnsureCanvas();
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
        DrawFrameTexts(painter, SpectLogLabels(plot));
    else
        DrawFrameTexts(painter,
                       SpectLinearLabels(plot, UsableSpectRangeY(SpectRangeY), UsableSpectRangeX(SpectRangeX)));
    DrawChannelLegend(painter, plot);
    painter.end();
    DrawPeakLine();
    SetFrameMarker(Canvas());
    update(QRegion(rect()) - panel); // the plot repaints on its own
}

void TFormSpect::InvRectSpect()
{
    PanelSpec->Invalidate();
}

void TFormSpect::CopyNewestSpectra()
{
    std::lock_guard<std::mutex> guard(DataLock);
    std::memcpy(rows[0], &Spectrum(1, 0, 0), sizeof rows[0]);
    std::memcpy(rows[1], &Spectrum(2, 0, 0), sizeof rows[1]);
}

void TFormSpect::RenderSpectLinear()
{
    if (!PanelSpec->Rendering()) {
        PanelSpec->RequestRender();
        return;
    }
    const int32_t rangeX = UsableSpectRangeX(SpectRangeX);
    const float rangeY = UsableSpectRangeY(SpectRangeY);
    CopyNewestSpectra();
    plotgl::BeginGrid();
    plotgl::Lines(SpectLinearGrid(), ColorGrid);
    plotgl::BeginTraces();
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
    CopyNewestSpectra();
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
            text += readout::PeakText(channel == 0 ? 'L' : 'R', *peak) + "    ";
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
    return QString::fromStdString(readout::SpectText(hz, SpectIsLn, drawn(0, ShowLeft), drawn(1, ShowRight)));
}

std::string TFormSpect::SaveSpectrum(const QString& path)
{
    const std::string csv = readout::SpectrumCsv(rows[0], rows[1], BinWidth, WindowFunction.load(),
                                                 QDateTime::currentDateTime().toString(Qt::ISODate).toStdString());
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
    TViewForm::AddExportActions(menu);
    menu.addAction("Save Spectrum as CSV...", this, &TFormSpect::SaveSpectrumClick);
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

void TFormSpect::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FormResize();
}
