#include "views/WaveForm.h"

#include "analysis/WaveGraph.h"
#include "analysis/readout.h"
#include "state/usable.h"
#include "views/framepaint.h"

#include <QEvent>

#include <cstring>
#include <mutex>

TFormWave::TFormWave(QWidget* parent)
    : TViewForm("Waveform", {&WaveX, &WaveY, &WaveW, &WaveH, &WaveShow}, QSize(310, 270), parent)
{
    setFont(FrameFont("Tahoma", 11));
    resize(691, 430);
    Panel1 = new TPlotSurface("Waveform", this);
    Panel1->OnRender = [this] { FormPaint(); };
    connect(Panel1, &TPlotSurface::DblClick, this, &TFormWave::Panel1DblClick);
    BuildScalePanel();
    AttachReadout(Panel1);
}

void TFormWave::BuildScalePanel()
{
    PanelWaveSnd = new TScalePanel(Panel1, QRect(3, 3, 123, 172), QPoint(100, 4));
    QWidget* p = PanelWaveSnd;
    LabY = PanelLabel(p, "Amplitude", QRect(23, 7, 0, 0), 12);
    TBarRangeY = PanelTrackBar(p, Qt::Vertical, 1, 7, 1, QRect(11, 18, 27, 105), "Amplitude Scale ");
    LabAmpl = PanelLabel(p, "+/-35000 +/-20000 +/-10000 +/-5000  +/-2000 +/-1000  +/-500", QRect(40, 23, 49, 91), 11,
                         true);
    LabX = PanelLabel(p, "Time, ms", QRect(36, 116, 0, 0), 12);
    TBarRangeX = PanelTrackBar(p, Qt::Horizontal, 1, 4, 4, QRect(19, 129, 90, 28), "Time Scale");
    Label1 = PanelLabel(p, "10   20   50  100", QRect(26, 153, 0, 0), 11);
    connect(TBarRangeY, &QSlider::valueChanged, this, &TFormWave::TBarRangeYChange);
    connect(TBarRangeX, &QSlider::valueChanged, this, &TFormWave::TBarRangeXChange);
    connect(PanelWaveSnd->BtnClose, &QAbstractButton::clicked, this, &TFormWave::BtnCloseClick);
    connect(PanelWaveSnd, &TScalePanel::MouseDown, this, &TFormWave::PanelWaveSndMouseDown);
    connect(PanelWaveSnd, &TScalePanel::MouseMove, this, &TFormWave::PanelWaveSndMouseMove);
    connect(PanelWaveSnd, &TScalePanel::MouseUp, this, &TFormWave::PanelWaveSndMouseUp);
}

void TFormWave::DrawWaveFrame()
{
    EnsureCanvas();
    const PlotRect plot = WavePlotRect(width(), height());
    SetPlotRect(plot);
    QPainter painter(&Canvas());
    ClearFrameCanvas(painter, palette().window().color());
    DrawShading(painter, ShadingLines(plot, WaveShading()));
    painter.setFont(font());
    BeginFrameText(painter);
    DrawFrameTexts(painter, WaveAmplitudeLabels(plot, UsableWaveRangeY(WaveRangeY)));
    DrawFrameTexts(painter, WaveTimeLabels(plot, UsableWaveRangeX(WaveRangeX)));
    DrawFrameText(painter, WaveTimeCaption(plot));
    DrawChannelLegend(painter, plot);
    painter.end();
    SetFrameMarker(Canvas());
    const QRect panel = PlotPanelRect(plot);
    Panel1->setGeometry(panel);
    update(QRegion(rect()) - panel); // the plot repaints on its own
}

void TFormWave::InvRectWave()
{
    Panel1->Invalidate();
}

void TFormWave::RenderWave(int32_t span, int32_t fullScale)
{
    if (!Panel1->Rendering()) {
        Panel1->RequestRender();
        return;
    }
    span = UsableWaveRangeX(span);
    fullScale = UsableWaveRangeY(fullScale);
    drawnSpan = span;
    {
        std::lock_guard<std::mutex> guard(DataLock);
        std::memcpy(block[0], &Sample(1, 0), sizeof block[0]);
        std::memcpy(block[1], &Sample(2, 0), sizeof block[1]);
    }
    plotgl::BeginGrid();
    plotgl::Lines(WaveGridLines(), ColorGrid);
    plotgl::Lines(WaveZeroLine(), ColorZeroLine);
    plotgl::BeginTraces();
    if (ShowLeft) {
        WaveTrace(block[0], span, fullScale, trace);
        plotgl::LineStrip(trace, ColorLeft);
    }
    if (ShowRight) {
        WaveTrace(block[1], span, fullScale, trace);
        plotgl::LineStrip(trace, ColorRight);
    }
}

QString TFormWave::ReadoutText(QPoint pointer)
{
    const int k = readout::WaveSampleAt(PixelCentreNdcX(pointer.x(), Panel1->width()), drawnSpan);
    const auto drawn = [this, k](int channel, bool shown) {
        return shown ? std::optional<int>(block[channel][k]) : std::nullopt;
    };
    return QString::fromStdString(readout::WaveText(readout::WaveMs(k), drawn(0, ShowLeft), drawn(1, ShowRight)));
}

void TFormWave::FormShow()
{
    TViewForm::FormShow();
    if (const int position = WaveRangeYPosition(WaveRangeY))
        TBarRangeY->setValue(position);
    if (const int position = WaveRangeXPosition(WaveRangeX))
        TBarRangeX->setValue(position);
}

void TFormWave::FormActivate()
{
    DrawWaveFrame();
}

void TFormWave::FormPaint()
{
    RenderWave(WaveRangeX, WaveRangeY);
}

void TFormWave::FormResize()
{
    DrawWaveFrame();
}

void TFormWave::Panel1DblClick()
{
    WaveScalesShow();
}

void TFormWave::WaveScalesShow()
{
    PanelWaveSnd->ShowAtHome();
    DrawWaveFrame();
}

void TFormWave::BtnCloseClick()
{
    PanelWaveSnd->hide();
}

void TFormWave::PanelWaveSndMouseDown(Qt::MouseButton button, QPoint position)
{
    ScalePanelMouseDown(button, position);
}

void TFormWave::PanelWaveSndMouseMove(QPoint position)
{
    ScalePanelMouseMove(PanelWaveSnd, position);
}

void TFormWave::PanelWaveSndMouseUp(Qt::MouseButton, QPoint)
{
    ScalePanelMouseUp();
}

void TFormWave::TBarRangeXChange(int position)
{
    WaveRangeX = WaveRangeXAt(position);
    DrawWaveFrame();
    RenderWave(WaveRangeX, WaveRangeY);
}

void TFormWave::TBarRangeYChange(int position)
{
    WaveRangeY = WaveRangeYAt(position);
    DrawWaveFrame();
    RenderWave(WaveRangeX, WaveRangeY);
}

void TFormWave::changeEvent(QEvent* event)
{
    TViewForm::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TFormWave::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FormResize();
}
