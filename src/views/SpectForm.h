// The spectrum view window.
#pragma once

#include "views/viewform.h"

class TFormSpect : public TViewForm {
    Q_OBJECT
public:
    explicit TFormSpect(QWidget* parent = nullptr);

    void DrawSpectFrame() { DrawFrame(); }
    void InvRectSpect() { Invalidate(); }
};

inline TFormSpect* FormSpect = nullptr;
