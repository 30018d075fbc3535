#include "views/SpTmForm.h"

#include "analysis/SpTmMap.h"
#include "analysis/readout.h"
#include "state/global.h"
#include "views/SpTmGraph.h"
#include "views/SpTmLabels.h"
#include "views/framepaint.h"

#include <QEvent>
#include <QShowEvent>

#include <algorithm>

namespace {

void SetColours(QWidget* widget, const QColor& background, const QColor& text)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    widget->setPalette(palette);
}

QLabel* GreyLabel(QWidget* parent, const QString& text, int x, int y)
{
    auto* label = new QLabel(text, parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(128, 128, 128));
    label->setPalette(palette);
    label->adjustSize();
    label->move(x, y);
    return label;
}

} // namespace

TFormSpTm::TFormSpTm(QWidget* parent)
    : TViewForm("Spectrogram", {&SpTmX, &SpTmY, &SpTmW, &SpTmH, &SpTmShow}, QSize(500, 540), parent)
{
    setFont(FrameFont("Tahoma", 11));
    resize(903, 607);
    PanelSpTm = new TPlotSurface("Spectrogram", this);
    PanelSpTm->SetKeepContent(true); // the picture is the spectrogram's history
    // Its blocks are written on the CPU, pixel for pixel as the renderer
    // would draw their line batches, which it learns once per layout.
    PanelSpTm->SetCpuDrawing(true);
    PanelSpTm->setGeometry(30, 20, 695, 533);
    PanelSpTm->OnRender = [this] { FormPaint(); };
    connect(PanelSpTm, &TPlotSurface::DblClick, this, &TFormSpTm::PanelSpTmDblClick);
    AttachReadout(PanelSpTm);
    BuildCaptions();
    BuildGainPanel();
}

void TFormSpTm::BuildCaptions()
{
    for (QLabel** caption : {&PanelLeft, &PanelRight}) {
        auto* label = new QLabel(PanelSpTm);
        label->setFont(FrameFont("Tahoma", 12));
        label->setAlignment(Qt::AlignCenter);
        label->setAutoFillBackground(true);
        label->resize(45, 17);
        *caption = label;
    }
    PanelLeft->setText("Left");
    PanelLeft->move(610, 2);
    PanelRight->setText("Right");
    PanelRight->move(610, 262);
}

void TFormSpTm::BuildGainPanel()
{
    PanelGain = new TScalePanel(PanelSpTm, QRect(3, 3, 120, 150), QPoint(100, 0));
    QWidget* p = PanelGain;
    // Runs downwards: position 1 (gain 20) at the top, 20 (gain 1) at the bottom.
    TBarKamp = new QSlider(Qt::Vertical, p);
    TBarKamp->setRange(sptm::GainTrackMin, sptm::GainTrackMax);
    TBarKamp->setValue(sptm::GainTrackMax);
    TBarKamp->setInvertedAppearance(true);
    TBarKamp->setInvertedControls(true);
    TBarKamp->setPageStep(1);
    TBarKamp->setTickPosition(QSlider::TicksRight);
    TBarKamp->setTickInterval(1);
    TBarKamp->setGeometry(9, 6, 27, 130);
    TBarKamp->setToolTip("Gain");
    Lab20 = GreyLabel(p, "20", 34, 11);
    Lab10 = GreyLabel(p, "10", 34, 63);
    Lab1 = GreyLabel(p, "1", 34, 115);
    LabKamp = new QLabel("Boost", p);
    LabKamp->adjustSize();
    LabKamp->move(70, 43);
    EditGain = new QLineEdit("1", p); // shows the gain; typing changes nothing
    EditGain->setGeometry(64, 60, 41, 21);
    BtnSpTmClear = new QPushButton("Clear", p);
    BtnSpTmClear->setGeometry(56, 115, 54, 23);

    connect(TBarKamp, &QSlider::valueChanged, this, &TFormSpTm::TBarKampChange);
    connect(BtnSpTmClear, &QPushButton::clicked, this, &TFormSpTm::BtnSpTmClearClick);
    connect(PanelGain->BtnClose, &QAbstractButton::clicked, this, &TFormSpTm::BtnCloseClick);
    connect(PanelGain, &TScalePanel::MouseDown, this, &TFormSpTm::PanelGainMouseDown);
    connect(PanelGain, &TScalePanel::MouseMove, this, &TFormSpTm::PanelGainMouseMove);
    connect(PanelGain, &TScalePanel::MouseUp, this, &TFormSpTm::PanelGainMouseUp);
}

void TFormSpTm::PlaceCaptions()
{
    const sptm::Captions captions = sptm::ChannelCaptions(ShowLeft, ShowRight);
    const QColor background = LightBackground ? QColor(230, 230, 230) : QColor(0, 0, 0);
    const QColor text = LightBackground ? QColor(128, 128, 128) : QColor(192, 192, 192);
    PanelLeft->setText(captions.upper);
    PanelLeft->move(PanelSpTm->width() / 2, PanelLeft->y());
    SetColours(PanelLeft, background, text);
    PanelRight->setText(captions.lower);
    PanelRight->move(PanelSpTm->width() / 2, PanelSpTm->height() / 2);
    PanelRight->setVisible(captions.lowerVisible);
    SetColours(PanelRight, background, text);
}

void TFormSpTm::DrawSpTmFrame()
{
    EnsureCanvas();
    const PlotRect plot = sptm::PlotArea(width(), height());
    SetPlotRect(plot);
    QRect panel = PlotPanelRect(plot);
    panel.setSize(panel.size().expandedTo(QSize(1, 1)));
    PanelSpTm->setGeometry(panel);
    PlaceCaptions();
    const sptm::FrameLook look{
        ShowLeft, ShowRight, OuterGeometry().height(), LightBackground, font(), palette().window().color(), QLocale()};
    sptm::PaintFrame(Canvas(), plot, look);
    update(QRegion(rect()) - panel); // the plot keeps its own picture
}

QString TFormSpTm::ReadoutText(QPoint pointer)
{
    const QImage& picture = PanelSpTm->Picture();
    const qreal ratio = PanelSpTm->devicePixelRatioF();
    const QPoint device(static_cast<int>(pointer.x() * ratio), static_cast<int>(pointer.y() * ratio));
    std::optional<int> level;
    if (picture.rect().contains(device)) {
        const QRgb pixel = picture.pixel(device);
        level = readout::LevelOfColour({static_cast<uint8_t>(qRed(pixel)), static_cast<uint8_t>(qGreen(pixel)),
                                        static_cast<uint8_t>(qBlue(pixel))},
                                       LightBackground);
    }
    const auto point = readout::SpTmBandAt(PixelCentreNdcY(pointer.y(), PanelSpTm->height()), ShowLeft, ShowRight);
    return QString::fromStdString(readout::SpTmText(readout::SpTmSeconds(pointer.x()), point, level, KaSpTm));
}

void TFormSpTm::InvRectSpTm()
{
    PanelSpTm->Invalidate();
}

void TFormSpTm::FormActivate()
{
    DrawSpTmFrame();
}

void TFormSpTm::FormPaint()
{
    RenderSpTm();
}

void TFormSpTm::FormResize()
{
    DrawSpTmFrame();
    ClearSpTm();
}

void TFormSpTm::SpTmRangesShow()
{
    PanelGain->ShowAtHome();
    EditGain->setText(sptm::GainText(KaSpTm));
    // When the position changes, TBarKampChange writes the gain of the new
    // position back; when it stays, the stored gain is kept as it is.
    TBarKamp->setValue(sptm::GainTrackPosition(KaSpTm));
    DrawSpTmFrame();
}

void TFormSpTm::PanelSpTmDblClick()
{
    SpTmRangesShow();
}

void TFormSpTm::TBarKampChange(int position)
{
    KaSpTm = static_cast<float>(sptm::GainAtPosition(position));
    EditGain->setText(sptm::GainText(KaSpTm));
    // The next render uses the new gain; the legend does not depend on it.
}

void TFormSpTm::BtnSpTmClearClick()
{
    ClearSpTm();
}

void TFormSpTm::BtnCloseClick()
{
    PanelGain->hide();
}

void TFormSpTm::PanelGainMouseDown(Qt::MouseButton button, QPoint position)
{
    ScalePanelMouseDown(button, position);
}

void TFormSpTm::PanelGainMouseMove(QPoint position)
{
    ScalePanelMouseMove(PanelGain, position);
}

void TFormSpTm::PanelGainMouseUp(Qt::MouseButton, QPoint)
{
    ScalePanelMouseUp();
}

void TFormSpTm::showEvent(QShowEvent* event)
{
    TViewForm::showEvent(event);
    if (event->spontaneous())
        return;
    setWindowTitle("Spectrogram");
    DrawSpTmFrame();
}

void TFormSpTm::changeEvent(QEvent* event)
{
    TViewForm::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TFormSpTm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FormResize();
}
