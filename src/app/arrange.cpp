#include "app/arrange.h"

ViewLayout DefaultViewLayout(int clientWidth, int clientHeight, int panelTop, int panelHeight, int clientScreenTop)
{
    const int w = clientWidth;
    const int h = clientHeight - panelHeight;
    const int top = panelTop + panelHeight + clientScreenTop;
    ViewLayout layout;
    layout.wave = QRect(0, top, w / 3, h / 2);
    layout.spect = QRect(0, top + h / 2, w / 3, h / 2);
    layout.sptm = QRect(w / 3 + 1, top, (w / 3) * 2 - 2, h - 2);
    return layout;
}
