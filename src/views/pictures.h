// The small pictures the program draws for itself: the control strip's
// microphone and loudspeaker, and the generator's device status lamps.
#pragma once

#include <QPixmap>

// 24 x 24.
QPixmap MicrophonePicture();
QPixmap SpeakerPicture();
// 22 x 22: a round lamp, lit green while the playback device is open, dark
// red while it is closed.
QPixmap StatusLampPicture(bool on);
