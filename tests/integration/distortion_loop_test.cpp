// The distortion window on the private sound server, reading the headset's
// loopback: its own test tone at -6 dBFS comes back with THD+N at or below
// -88 dB; a tone with harmonics the test writes into a WAV file and plays
// with paplay reads the THD the test computes from those harmonics; with the
// loopback muted it finds no tone.
#include "common/live_program.h"
#include "common/pulse_support.h"

#include "app/main.h"
#include "meters/DistortionForm.h"
#include "meters/distortionresult.h"
#include "state/global.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int Rate = 44100;

struct Partial {
    int order;
    double dbfs; // the partial's own level, a full-scale sine 0 dBFS
};

double Amplitude(double dbfs)
{
    return 32767.0 * std::pow(10.0, dbfs / 20.0);
}

// IEC 60268-3: the harmonics' RMS sum over the fundamental, in per cent.
double ThdPercent(const std::vector<Partial>& partials)
{
    double harmonics = 0.0;
    for (std::size_t i = 1; i < partials.size(); ++i)
        harmonics += Amplitude(partials[i].dbfs) * Amplitude(partials[i].dbfs);
    return 100.0 * std::sqrt(harmonics) / Amplitude(partials[0].dbfs);
}

// A 16-bit stereo WAV file of `seconds` of the partials of `hz`, both
// channels alike.
void WriteToneWav(const std::string& path, double hz, const std::vector<Partial>& partials, int seconds)
{
    const uint32_t frames = static_cast<uint32_t>(Rate * seconds);
    std::vector<int16_t> samples(2 * frames);
    for (uint32_t i = 0; i < frames; ++i) {
        double value = 0.0;
        for (const Partial& partial : partials)
            value += Amplitude(partial.dbfs) * std::sin(2.0 * std::numbers::pi * hz * partial.order * i / Rate);
        samples[2 * i] = samples[2 * i + 1] = static_cast<int16_t>(std::lround(value));
    }
    testsupport::WriteStereoWav(path, samples);
}

class DistortionLoop : public LiveProgram {
protected:
    void SetUp() override
    {
        // The loopback carries the played samples as they are.
        if (testsupport::HavePrivateServer()) {
            testsupport::SetHeadsetLoopbackToUnity();
            testsupport::Pactl("set-source-mute test_headset.monitor 0");
        }
        LiveProgram::SetUp();
        if (!Running())
            return;
        ASSERT_TRUE(ChooseSource("Test Headset"));
        ASSERT_TRUE(Loopback);
        FormDistortion->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormDistortion));
        const int output = FormDistortion->ComboDevice->findText("Test Headset");
        ASSERT_GE(output, 0);
        FormDistortion->ComboDevice->setCurrentIndex(output);
        FormDistortion->ComboDeviceChange(output);
    }
    void TearDown() override
    {
        if (FormDistortion)
            FormDistortion->StopTone();
        if (testsupport::HavePrivateServer()) {
            testsupport::Pactl("set-sink-mute test_headset 0");
            testsupport::Pactl("set-source-mute test_headset.monitor 0");
        }
        LiveProgram::TearDown();
    }
    // The reading of the left channel once the window's samples all came
    // after now: the ring's transform length and a little more.
    static measure::DistortionReading FreshReading()
    {
        QTest::qWait(1000 * DistortionSize / Rate + 600);
        FormDistortion->Analyse();
        EXPECT_FALSE(FormDistortion->Results().empty());
        return FormDistortion->Results().empty() ? measure::DistortionReading{}
                                                 : FormDistortion->Results().front().reading;
    }
    // Waits until the tone is heard at about `dbfs`, then takes a reading
    // of samples that hold nothing but it.
    static measure::DistortionReading SteadyReading(double dbfs)
    {
        WaitFor(
            [&] {
                FormDistortion->Analyse();
                return !FormDistortion->Results().empty() && FormDistortion->Results().front().reading.toneFound &&
                       std::fabs(FormDistortion->Results().front().reading.fundamentalDbfs - dbfs) < 1.0;
            },
            6000);
        return FreshReading();
    }
};

TEST_F(DistortionLoop, ItsOwnToneComesBackWithThdPlusNoiseBelowMinus88Db)
{
    ASSERT_EQ(FormDistortion->StartTone(), "");
    ASSERT_TRUE(WaveOutIsOpen);
    const measure::DistortionReading reading = SteadyReading(-6.0);
    ASSERT_TRUE(reading.toneFound);
    EXPECT_FALSE(reading.clipped);
    EXPECT_NEAR(reading.fundamentalHz, 997.0, 0.05);
    // The peak 32767 * 10^(-6/20), rounded to a whole sample value, against
    // a full-scale sine's 32767.
    EXPECT_NEAR(reading.fundamentalDbfs, 20.0 * std::log10(std::round(Amplitude(-6.0)) / 32767.0), 0.05);
    EXPECT_LE(reading.thdnDb, -88.0);
    std::printf("THD+N %.2f dB, THD %.2f dB, SNR %.2f dB\n", reading.thdnDb, reading.thdDb, reading.snrDb);
}

TEST_F(DistortionLoop, AKnownHarmonicToneFromPaplayReadsItsThd)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string wav = dir.filePath("harmonics.wav").toStdString();
    const std::vector<Partial> partials = {{1, -10.0}, {2, -60.0}, {3, -66.0}, {5, -80.0}};
    WriteToneWav(wav, 1000.0, partials, 7);
    std::thread player([wav] { testsupport::RunCommand("paplay --device=test_headset '" + wav + "'"); });
    const measure::DistortionReading reading = SteadyReading(-10.0);
    player.join();
    ASSERT_TRUE(reading.toneFound);
    EXPECT_NEAR(reading.fundamentalHz, 1000.0, 0.05);
    const double expected = ThdPercent(partials);
    EXPECT_NEAR(reading.thdPercent, expected, 0.02 * expected);
    std::printf("THD %.5f %% (computed %.5f %%)\n", reading.thdPercent, expected);
}

TEST_F(DistortionLoop, AMutedLoopbackHasNoTestTone)
{
    ASSERT_EQ(FormDistortion->StartTone(), "");
    ASSERT_TRUE(SteadyReading(-6.0).toneFound);
    testsupport::Pactl("set-sink-mute test_headset 1");
    testsupport::Pactl("set-source-mute test_headset.monitor 1");
    const measure::DistortionReading reading = FreshReading();
    EXPECT_FALSE(reading.toneFound);
    EXPECT_EQ(distortionview::ReadingLines(reading, std::nullopt).front(), "No test tone found");
}

} // namespace
