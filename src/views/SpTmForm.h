// The spectrogram view window.
#pragma once

#include "views/viewform.h"

class TFormSpTm : public TViewForm {
    Q_OBJECT
public:
    explicit TFormSpTm(QWidget* parent = nullptr);

    void DrawSpTmFrame() { DrawFrame(); }
    void InvRectSpTm() { Invalidate(); }
};

inline TFormSpTm* FormSpTm = nullptr;

// Clears the spectrogram's drawing surface.
void ClearSpTm();
