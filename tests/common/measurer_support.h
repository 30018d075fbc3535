// Running the built command-line measurer (sonalyx-measure) from a test and
// reading its answers: the band levels, and the checks of played noise the
// measurer's own tests and the generator window's share.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

namespace testsupport {

struct MeasurerRun {
    int exitCode = -1; // -1: it crashed or did not end in time
    QByteArray out, err;
};

// Runs the measurer with these arguments and no DISPLAY against the server
// in `server` (the private one when empty).
MeasurerRun RunMeasurer(const QStringList& arguments, const QString& server = {}, int timeoutMs = 90000);
// The JSON object on its standard output (a test failure when it is none).
QJsonObject MeasurerAnswer(const MeasurerRun& run);

struct BandLevel {
    double nominal, centre, left, right;
};
std::vector<BandLevel> BandLevels(const QJsonObject& answer);

// Pink noise read in 1/3 octaves: flat within 0.5 dB from 63 Hz to 16 kHz
// and 1 dB from 31.5 to 50 Hz, around the mean of the bands from 63 Hz, in
// the power mean of both channels. Reading random noise for 30 s in a band
// 15 Hz wide (63 Hz) spreads by 0.2 dB from run to run on one channel; the
// channels carry independent noise of the same density, and their mean
// halves the variance, which keeps false alarms below one run in a hundred.
void ExpectFlatPinkNoise(const std::vector<BandLevel>& bands);
// White noise in 1/3 octaves: a line fitted to the levels from 63 Hz to
// 16 kHz rises 3.0 +- 0.2 dB per octave, on each channel.
void ExpectWhiteNoiseSlope(const std::vector<BandLevel>& bands);

} // namespace testsupport
