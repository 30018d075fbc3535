// The waveform view window.
#pragma once

#include "views/viewform.h"

class TFormWave : public TViewForm {
    Q_OBJECT
public:
    explicit TFormWave(QWidget* parent = nullptr);

    void DrawWaveFrame() { DrawFrame(); }
    void InvRectWave() { Invalidate(); }
};

inline TFormWave* FormWave = nullptr;
