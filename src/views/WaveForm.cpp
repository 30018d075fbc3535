#include "views/WaveForm.h"

#include "app/global.h"

TFormWave::TFormWave(QWidget* parent)
    : TViewForm("Waveform", {&WaveX, &WaveY, &WaveW, &WaveH, &WaveShow}, QSize(310, 270), parent)
{
}
