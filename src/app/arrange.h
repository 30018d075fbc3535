// The default layout of the three views below the main window's control strip.
#pragma once

#include <QRect>

struct ViewLayout {
    QRect wave;
    QRect spect;
    QRect sptm;
};

// clientWidth/clientHeight: the main window's client area; panelTop and
// panelHeight: the control strip. clientScreenTop: how far below the top of
// the screen the client area begins; 51 is the title and menu bars of a
// maximised window on the desktop the layout was first drawn for, but a
// desktop without a window manager has none, and one with larger bars has
// more, so the views are moved by the real offset to fill the client area
// without running off the screen. Integer divisions truncate.
inline constexpr int ClassicClientScreenTop = 51;
ViewLayout DefaultViewLayout(int clientWidth, int clientHeight, int panelTop, int panelHeight,
                             int clientScreenTop = ClassicClientScreenTop);
