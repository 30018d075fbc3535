// Snapshots for scripts: `sonalyx --snapshot DIR --after SECONDS` runs with
// the stored settings, waits, writes waveform.png, spectrum.png,
// spectrogram.png, spectrum.csv and snapshot.json (the device, the blocks
// captured and the frames lost since the device started, "dropped_frames")
// into DIR and ends with 0; it ends with 1
// and a message on standard error when no block was captured (no device
// could be started) or a file could not be written. Messages that would be
// boxes go to standard error, and the settings are not written back.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct SnapshotRequest {
    std::string folder;
    double seconds = 0;
};

// The snapshot the command line (program name first) asks for; none when it
// asks for none. Wrong arguments set *error and give none.
std::optional<SnapshotRequest> SnapshotArguments(const std::vector<std::string>& args, std::string* error);

// Messages to standard error from now on. UI thread, after the forms exist.
void PrintMessagesInstead();

// After the request's wait, writes the files and ends the event loop with
// the snapshot's exit code. UI thread.
void ScheduleSnapshot(const SnapshotRequest& request);

// Writes the five files now; the exit code (0, or 1 after a message).
int WriteSnapshot(const std::string& folder);
// The JSON of snapshot.json, and its writing: empty, or why it failed.
std::string SnapshotSummary();
std::string WriteSnapshotSummary(const std::string& path);
