// The spectrogram's texts that follow the user's locale or go straight into
// widgets: legend tick labels, channel captions and the gain box.
#pragma once

#include <QLocale>
#include <QString>

#include <string>

namespace sptm {

// Label of legend tick i in the given locale: 0.1 .. 0.9 (0,1 with a comma).
std::string LegendLabel(int tick, const QLocale& locale);

// Channel captions inside the plot panel.
struct Captions {
    QString upper;
    QString lower;
    bool lowerVisible;
};
Captions ChannelCaptions(bool showLeft, bool showRight);

// The gain as the edit box shows it: fixed-point without decimals.
QString GainText(float gain);

} // namespace sptm
