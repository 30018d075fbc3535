// The program's side of the recording library: the start-up version check.
#pragma once

#include <cstdint>
#include <string>

// True when the sound-server client library loaded at run time is at least
// the version the program was built against (same major, or newer).
bool LibraryVersionFits(uint32_t loaded, uint32_t built);
std::string VersionText(uint32_t version);
// Ends the process with a message when the loaded library does not fit.
void CheckLibraryVersion();
