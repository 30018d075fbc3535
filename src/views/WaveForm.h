// The waveform view window: an oscilloscope trace of the newest block on the
// OpenGL plot panel Panel1, the axis frame around it on the form's canvas,
// and the floating scale panel PanelWaveSnd with the time span and amplitude
// full-scale track bars.
#pragma once

#include "state/global.h"
#include "views/panelwidgets.h"
#include "views/plotsurface.h"
#include "views/viewform.h"

#include <QLabel>
#include <QSlider>

#include <cstdint>
#include <vector>

class TFormWave : public TViewForm {
    Q_OBJECT
public:
    explicit TFormWave(QWidget* parent = nullptr);

    TPlotSurface* Panel1 = nullptr;
    TScalePanel* PanelWaveSnd = nullptr;
    QLabel* LabY = nullptr;
    QSlider* TBarRangeY = nullptr;
    QLabel* LabAmpl = nullptr;
    QLabel* LabX = nullptr;
    QSlider* TBarRangeX = nullptr;
    QLabel* Label1 = nullptr;

    // Shading, amplitude and time labels, caption, legend and marker on the
    // canvas; places Panel1 on the plot rectangle.
    void DrawWaveFrame();
    void DrawFrame() override { DrawWaveFrame(); }
    // Requests a repaint of the plot (any thread); the frame stays.
    void InvRectWave();
    // Grid, zero line and traces over `span` samples at `fullScale`. Called
    // while the plot paints, it draws; called from elsewhere it requests a
    // paint, which renders WaveRangeX and WaveRangeY (what every caller
    // passes).
    void RenderWave(int32_t span, int32_t fullScale);

public slots:
    void FormShow() override;
    void FormActivate();
    void FormPaint();
    void FormResize();
    void Panel1DblClick();
    void WaveScalesShow();
    void BtnCloseClick();
    void PanelWaveSndMouseDown(Qt::MouseButton button, QPoint position);
    void PanelWaveSndMouseMove(QPoint position);
    void PanelWaveSndMouseUp(Qt::MouseButton button, QPoint position);
    void TBarRangeXChange(int position);
    void TBarRangeYChange(int position);

    // Time under the pointer and the drawn samples of the shown channels there.
    QString ReadoutText(QPoint pointer) override;

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildScalePanel();
    // The newest block of both channels, copied under DataLock.
    int16_t block[2][HistoryHalf] = {};
    int32_t drawnSpan = 4410; // the span the picture shows
    std::vector<PlotVertex> trace;
};

inline TFormWave* FormWave = nullptr;
