// Handing things over to the desktop: documents and web addresses to their
// default application, and the desktop's sound settings tool.
#pragma once

#include <string>

namespace platform {

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

} // namespace platform
