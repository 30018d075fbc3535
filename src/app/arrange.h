// The default layout of the three views below the main window's control strip.
#pragma once

#include <QRect>

struct ViewLayout {
    QRect wave;
    QRect spect;
    QRect sptm;
};

// clientWidth/clientHeight: the main window's client area; panelTop and
// panelHeight: the control strip. Integer divisions truncate.
ViewLayout DefaultViewLayout(int clientWidth, int clientHeight, int panelTop, int panelHeight);
