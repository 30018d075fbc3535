// Playback of the generator's signal to a playback device.
#pragma once

// Refills the generator's output buffers; capture tick thread.
void RefillWaveOut();
// Closes the generator's output device.
void CloseWaveOut();
