// sonalyx-measure distortion as a script runs it, against the private sound
// server: a tone with harmonics of known levels, written here as a WAV file
// and played into a null sink by paplay, reads its THD through the sink's
// loopback; the program's own test tone through a loopback reads the
// rounding noise of 16 bits; silence holds no tone.
#include "common/measurer_support.h"
#include "common/pulse_support.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

namespace {

using Outcome = testsupport::MeasurerRun;

constexpr int Rate = 44100;

struct Partial {
    int order;
    double relativeDb;
};

// A 16-bit stereo WAV file of `seconds` of a 997 Hz tone at `dbfs` (its peak
// 32767 * 10^(dbfs/20)) with harmonics at their levels relative to it, the
// same on both channels; silence for dbfs = -inf.
void WriteToneWav(const std::string& path, double dbfs, const std::vector<Partial>& harmonics, int seconds)
{
    const double peak = std::isfinite(dbfs) ? 32767.0 * std::pow(10.0, dbfs / 20.0) : 0.0;
    const uint32_t frames = static_cast<uint32_t>(Rate * seconds);
    std::vector<int16_t> samples(2 * frames);
    for (uint32_t i = 0; i < frames; ++i) {
        const double phase = 2.0 * std::numbers::pi * 997.0 * i / Rate;
        double x = std::sin(phase);
        for (const Partial& h : harmonics)
            x += std::pow(10.0, h.relativeDb / 20.0) * std::sin(h.order * phase);
        samples[2 * i] = samples[2 * i + 1] = static_cast<int16_t>(std::lround(peak * x));
    }
    testsupport::WriteStereoWav(path, samples);
}

class MeasureDistortion : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::HavePrivateServer())
            GTEST_SKIP() << "needs the private sound server of scripts/test.sh";
        // The loopbacks carry the played samples as they are.
        testsupport::SetHeadsetLoopbackToUnity();
    }

    // Plays the file into the headset and measures its loopback meanwhile.
    Outcome MeasureWhilePlaying(const std::string& wav, const QStringList& more = {})
    {
        testsupport::BackgroundCommand player("paplay --device=test_headset '" + wav + "'");
        std::this_thread::sleep_for(std::chrono::milliseconds(800)); // the tone on its way
        return testsupport::RunMeasurer(QStringList{"distortion", "--record", "test_headset.monitor"} + more);
    }

    QTemporaryDir dir;
};

TEST_F(MeasureDistortion, KnownHarmonicsThroughALoopbackReadTheirThd)
{
    const std::string wav = dir.filePath("harmonics.wav").toStdString();
    WriteToneWav(wav, -6.0, {{2, -40.0}, {3, -50.0}}, 6);
    const Outcome run = MeasureWhilePlaying(wav, {"--channel", "right", "--seconds", "2"});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    const QJsonObject answer = testsupport::MeasurerAnswer(run);
    // IEC 60268-3: the root of the harmonics' power over the fundamental's.
    const double thd = 100.0 * std::sqrt(std::pow(10.0, -40.0 / 10.0) + std::pow(10.0, -50.0 / 10.0));
    EXPECT_NEAR(answer["thd_percent"].toDouble(), thd, 0.02 * thd) << run.out.constData();
    EXPECT_NEAR(answer["fundamental_hz"].toDouble(), 997.0, 0.01);
    EXPECT_NEAR(answer["fundamental_dbfs"].toDouble(), -6.0, 0.05);
    const QJsonArray harmonics = answer["harmonics_db"].toArray();
    ASSERT_EQ(harmonics.size(), 9) << run.out.constData();
    EXPECT_NEAR(harmonics[0].toDouble(), -40.0, 0.1);
    EXPECT_NEAR(harmonics[1].toDouble(), -50.0, 0.1);
    EXPECT_FALSE(answer["clipped"].toBool());
    std::printf("THD %.4f %% (made %.4f %%), THD+N %.2f dB\n", answer["thd_percent"].toDouble(), thd,
                answer["thdn_db"].toDouble());
}

TEST_F(MeasureDistortion, OwnTestToneThroughALoopbackIsCleanTo16Bits)
{
    // The headset: the speakers carry the microphone's 1 kHz tone.
    const Outcome run = testsupport::RunMeasurer({"distortion", "--play", "test_headset", "--record",
                                                  "test_headset.monitor", "--freq", "997", "--level", "-6", "--seconds",
                                                  "2"});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    const QJsonObject answer = testsupport::MeasurerAnswer(run);
    EXPECT_NEAR(answer["fundamental_hz"].toDouble(), 997.0, 0.01) << run.out.constData();
    EXPECT_NEAR(answer["fundamental_dbfs"].toDouble(), -6.0, 0.05) << run.out.constData();
    // Rounding to 16 bits leaves about -92 dB at -6 dBFS.
    EXPECT_LT(answer["thdn_db"].toDouble(), -88.0) << run.out.constData();
    std::printf("THD+N %.2f dB, SNR %.2f dB\n", answer["thdn_db"].toDouble(), answer["snr_db"].toDouble());
}

TEST_F(MeasureDistortion, SilenceHoldsNoToneAndWrongArgumentsAreRefused)
{
    // Zeros played, so that the sink runs on either server.
    const std::string wav = dir.filePath("silence.wav").toStdString();
    WriteToneWav(wav, -INFINITY, {}, 4);
    const Outcome run = MeasureWhilePlaying(wav, {"--seconds", "1"});
    EXPECT_EQ(run.exitCode, 6);
    EXPECT_TRUE(run.err.startsWith("sonalyx-measure: No test tone found")) << run.err.constData();
    EXPECT_TRUE(run.out.isEmpty()) << run.out.constData();

    const std::pair<QStringList, const char*> cases[] = {
        {{"distortion", "--record", "test_mic", "--play", "test_speakers", "--freq", "10"}, "--freq wants"},
        {{"distortion", "--record", "test_mic", "--play", "test_speakers", "--level", "-70"}, "--level wants"},
        {{"distortion", "--record", "test_mic", "--level", "-10"}, "--freq and --level need --play"},
    };
    for (const auto& [arguments, cause] : cases) {
        const Outcome wrong = testsupport::RunMeasurer(arguments);
        EXPECT_EQ(wrong.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(wrong.err.startsWith(QByteArray("sonalyx-measure: ") + cause)) << wrong.err.constData();
    }
}

} // namespace
