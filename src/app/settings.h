// Settings persistence: the 25 named values of the key
// "Software\Vortan\Sonalyx", kept in the key store file (see
// platform/keystore.h). Integers and bools are dwords; floats are 8-byte
// binary values holding a little-endian IEEE double.
//
// Every stored value is loaded as written, without a range test. The code
// that uses a value passes it through the matching Usable* function below
// where a stored number could otherwise make it index outside an array or
// divide by zero.
#pragma once

#include <cstdint>
#include <string>

// Sets the defaults, then loads every value that exists. A value of the wrong
// kind stops the load there with the message "Invalid data type for '<name>'".
// UI thread, once at start.
void RegistryRead();
// Writes all 25 values in their fixed order, keeping anything else the file
// holds. Reports a failure in a message box. UI thread, once at close.
void RegistryWrite();
// The settings file in use: read from the environment at each call.
std::string SettingsPath();
