#include "views/SpectForm.h"

#include "analysis/SpectGraph.h"
#include "state/usable.h"

#include <GL/gl.h>

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
    LabFX = PanelLabel(p, "Frequency, kHz", QRect(62, 116, 0, 0), 12);
    TrackBarFX = PanelTrackBar(p, Qt::Horizontal, 1, 5, 5, QRect(56, 130, 91, 26));
    LabFreq = PanelLabel(p, "1   2    5   10  20", QRect(63, 154, 0, 0), 11);
    connect(CheckLnSnd, &QCheckBox::toggled, this, &TFormSpect::CheckLnSndClick);
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
    const PlotRect plot = SpectPlotRect(width(), height());
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
        PanelSpec->update();
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
        PanelSpec->update();
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
