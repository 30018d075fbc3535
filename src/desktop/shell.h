// Handing things over to the desktop: documents and web addresses to their
// default application, the desktop's sound settings tool, and asking another
// program's window to close.
#pragma once

#include <string>

namespace desktop {

// Opens a local file (an absolute or relative path) or an address with a
// scheme (https://...) in the application the desktop associates with it.
// False when the desktop found none or the file does not exist.
bool OpenDocument(const std::string& pathOrAddress);

// The pages of the sound settings tool, pavucontrol.
enum class SoundSettingsPage { RecordingDevices, PlaybackDevices, VolumeMixer };

// Starts the sound settings tool on `page`, detached from this program.
// When it is not installed or does not start, returns false and sets
// *why to a sentence for the user.
bool OpenSoundSettings(SoundSettingsPage page, std::string* why);

// Asks the top-level window whose title is exactly `title` to close, as its
// close button would. False when there is no such window (or no display).
bool CloseWindowTitled(const std::string& title);

} // namespace desktop
