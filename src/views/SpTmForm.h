// The spectrogram view window: the sweeping time-frequency picture on the
// OpenGL plot panel PanelSpTm (a surface that keeps what was drawn), the
// channel captions PanelLeft and PanelRight on it, the axis frame with the
// frequency scales, time scale and colour legend on the form's canvas, and
// the floating gain panel PanelGain.
#pragma once

#include "views/panelwidgets.h"
#include "views/plotsurface.h"
#include "views/viewform.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

class TFormSpTm : public TViewForm {
    Q_OBJECT
public:
    explicit TFormSpTm(QWidget* parent = nullptr);

    TPlotSurface* PanelSpTm = nullptr;
    QLabel* PanelLeft = nullptr;
    QLabel* PanelRight = nullptr;
    TScalePanel* PanelGain = nullptr;
    QSlider* TBarKamp = nullptr;
    QLabel* Lab20 = nullptr;
    QLabel* Lab10 = nullptr;
    QLabel* Lab1 = nullptr;
    QLabel* LabKamp = nullptr;
    QLineEdit* EditGain = nullptr;
    QPushButton* BtnSpTmClear = nullptr;

    // Lays out the plot panel and its captions and paints the frame: bevel
    // shading, frequency scales, time scale, colour legend, marker pixel.
    void DrawSpTmFrame();
    void DrawFrame() override { DrawSpTmFrame(); }
    // Requests a render of the blocks analysed since the last one; any thread.
    void InvRectSpTm();

public slots:
    void FormActivate();
    void FormPaint();
    void FormResize();
    void SpTmRangesShow();
    void PanelSpTmDblClick();
    void TBarKampChange(int position);
    void BtnSpTmClearClick();
    void BtnCloseClick();
    void PanelGainMouseDown(Qt::MouseButton button, QPoint position);
    void PanelGainMouseMove(QPoint position);
    void PanelGainMouseUp(Qt::MouseButton button, QPoint position);

    // Sweep time, channel and frequency under the pointer, and the colour
    // level of the cell drawn there.
    QString ReadoutText(QPoint pointer) override;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildCaptions();
    void BuildGainPanel();
    void PlaceCaptions();
};

inline TFormSpTm* FormSpTm = nullptr;

// Clears the spectrogram's drawing surface (see views/SpTmGraph.h).
void ClearSpTm();
