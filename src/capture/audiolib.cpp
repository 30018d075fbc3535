#include "capture/audiolib.h"

#include "platform/dialogs.h"
#include "platform/reclib.h"

#include <cstdlib>

bool LibraryVersionFits(uint32_t loaded, uint32_t built)
{
    // The client library keeps its interface across versions; one older than
    // the headers the program was built with may lack what it calls.
    return loaded >= built;
}

std::string VersionText(uint32_t version)
{
    return std::to_string(version >> 16) + "." + std::to_string(version & 0xFFFF);
}

void CheckLibraryVersion()
{
    const uint32_t loaded = platform::rec::GetVersion();
    const uint32_t built = platform::rec::BuiltVersion();
    if (LibraryVersionFits(loaded, built))
        return;
    platform::MessageBox("Sonalyx",
                         "An incorrect version of the PulseAudio client library (libpulse " + VersionText(loaded) +
                             ") was loaded; Sonalyx needs " + VersionText(built) + " or newer.",
                         platform::MsgIcon::Error);
    std::exit(EXIT_FAILURE);
}
