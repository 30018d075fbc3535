#include "views/SpTmLabels.h"

#include "state/usable.h"

namespace sptm {

std::string LegendLabel(int tick, const QLocale& locale)
{
    return locale.toString(tick * 0.1, 'f', 1).toStdString();
}

Captions ChannelCaptions(bool showLeft, bool showRight)
{
    Captions captions;
    captions.upper = showLeft ? "Left" : showRight ? "Right" : "";
    captions.lower = showRight ? "Right" : "";
    captions.lowerVisible = showLeft && showRight;
    return captions;
}

QString GainText(float gain)
{
    return QString::number(static_cast<double>(UsableKaSpTm(gain)), 'f', 0);
}

} // namespace sptm
