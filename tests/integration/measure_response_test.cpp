// sonalyx-measure response as a script runs it (no DISPLAY), against the
// private sound server: a null sink's loopback passes every sample as it is,
// so it reads flat and, from one run to the next, with the same delay; filters
// whose response is known in closed form (PipeWire's builtin biquads, a
// LADSPA one-pole low-pass) read that response; a delay put into the chain
// adds its samples; a wrong device, silence, a source that delivers nothing
// and a clipped recording each end with their own line and code.
#include "common/biquads.h"
#include "common/measurer_support.h"
#include "common/pulse_support.h"
#include "measure/responsefile.h"
#include "platform/wavfile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <thread>
#include <vector>

namespace {

using Outcome = testsupport::MeasurerRun;
using Complex = std::complex<double>;

constexpr double Rate = 44100.0;

struct Point {
    double hz, db, deg;
};

std::vector<Point> Points(const QJsonObject& answer)
{
    std::vector<Point> points;
    for (const QJsonValue& value : answer["points"].toArray()) {
        const QJsonObject p = value.toObject();
        points.push_back({p["hz"].toDouble(), p["db"].toDouble(), p["deg"].toDouble()});
    }
    return points;
}

// ---- closed-form responses --------------------------------------------------------------

// The LADSPA SDK's "lpf": y[n] = (1 - c) x[n] + c y[n-1] with
// c = k - sqrt(k^2 - 1), k = 2 - cos(2 pi fc / fs).
Complex OnePoleLowPass(double cutoffHz, double hz)
{
    const double k = 2.0 - std::cos(2.0 * std::numbers::pi * cutoffHz / Rate);
    const double c = k - std::sqrt(k * k - 1.0);
    return (1.0 - c) / (1.0 - c * std::polar(1.0, -2.0 * std::numbers::pi * hz / Rate));
}

// The largest difference from `expectedDb` from 30 Hz to 15 kHz.
double LargestDifference(const std::vector<Point>& points, const std::function<double(double)>& expectedDb)
{
    double worst = 0;
    for (const Point& p : points)
        if (p.hz >= 30.0 && p.hz <= 15000.0)
            worst = std::max(worst, std::fabs(p.db - expectedDb(p.hz)));
    return worst;
}

// Measures a filter, up to three times: a filter that runs as an ordinary
// client of the server (PipeWire's filter-chain here) misses its period now
// and then on a busy machine, and the hole it leaves in the sweep spoils
// the response around the frequency swept at that moment. A filter whose
// response is wrong is wrong every time. Within `tolerance` at the end.
QJsonObject MeasureFilter(const QStringList& arguments, const std::function<double(double)>& expectedDb,
                          double tolerance, const char* name)
{
    QJsonObject answer;
    double worst = 0;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        const Outcome run = testsupport::RunMeasurer(QStringList{"response"} + arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err.constData();
        if (run.exitCode != 0)
            return {};
        answer = testsupport::MeasurerAnswer(run);
        const std::vector<Point> points = Points(answer);
        EXPECT_EQ(points.size(), 479u);
        worst = LargestDifference(points, expectedDb);
        std::printf("%s, attempt %d: largest difference %.4f dB, delay %.2f samples\n", name, attempt, worst,
                    answer["delay_samples"].toDouble());
        if (worst <= tolerance)
            break;
    }
    EXPECT_LE(worst, tolerance) << name;
    return answer;
}

// ---- a filter chain of the private PipeWire's own ---------------------------------------

// A PipeWire process of the test's own that joins the private server's graph
// with one filter-chain: a sink "test_filter" whose filtered sound goes on
// to the headset. Stopped on destruction.
class PipeWireFilter {
public:
    PipeWireFilter(const QTemporaryDir& dir, const QString& nodes, const QString& links)
    {
        const QString config = QDir(dir.path()).filePath("filter-" + QString::number(count_++) + ".conf");
        QFile file(config);
        file.open(QIODevice::WriteOnly);
        file.write(QString(R"(context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-filter-chain
      args = {
        node.description = "Test Filter"
        filter.graph = { nodes = [ %1 ] links = [ %2 ] }
        audio.channels = 2
        audio.position = [ FL FR ]
        capture.props = { node.name = "test_filter" node.description = "Test Filter" media.class = Audio/Sink }
        playback.props = { node.name = "test_filter.out" target.object = "test_headset" node.passive = true }
      }
    }
]
)")
                       .arg(nodes, links)
                       .toUtf8());
        file.close();
        // The private server's runtime folder: the one beside its socket.
        QString runtime = qEnvironmentVariable("PULSE_SERVER").remove("unix:");
        runtime = QFileInfo(runtime).dir().filePath("runtime");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("PIPEWIRE_RUNTIME_DIR", runtime);
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start("pipewire", {"-c", config});
        process_.waitForStarted(5000);
        ready_ = testsupport::WaitUntil(
            [] { return testsupport::Pactl("list short sinks").output.find("test_filter") != std::string::npos; },
            std::chrono::seconds(10));
    }
    ~PipeWireFilter()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(2000);
        // Gone from the server's lists before the next chain comes.
        testsupport::WaitUntil(
            [] { return testsupport::Pactl("list short sinks").output.find("test_filter") == std::string::npos; },
            std::chrono::seconds(5));
    }

    bool ready() const { return ready_; }
    QString log() { return QString::fromUtf8(process_.readAll()); }

private:
    static inline int count_ = 0;
    QProcess process_;
    bool ready_ = false;
};

// ---- the tests ------------------------------------------------------------------------

class MeasureResponse : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::HavePrivateServer())
            GTEST_SKIP() << "needs the private sound server of scripts/test.sh";
        // The loopbacks carry the played samples as they are.
        testsupport::SetHeadsetLoopbackToUnity();
    }

    static Outcome Measure(const QStringList& arguments)
    {
        return testsupport::RunMeasurer(QStringList{"response"} + arguments);
    }

    static void ExpectFailure(const Outcome& run, int code, const char* cause)
    {
        EXPECT_EQ(run.exitCode, code) << run.err.constData();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.constData();
        EXPECT_TRUE(run.err.startsWith(QByteArray("sonalyx-measure: ") + cause)) << run.err.constData();
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.constData();
    }

    QTemporaryDir dir;
};

TEST_F(MeasureResponse, LoopbackIsFlatWithTheSameDelayEachTimeAndItsFilesAgree)
{
    const QString text = dir.filePath("loopback.txt"), wav = dir.filePath("loopback.wav");
    std::vector<double> delays;
    for (int run = 0; run < 5; ++run) {
        QStringList arguments{"--play", "test_headset", "--record", "test_headset.monitor", "--seconds", "2"};
        if (run == 0)
            arguments << "--out" << text << "--ir" << wav;
        const Outcome outcome = Measure(arguments);
        ASSERT_EQ(outcome.exitCode, 0) << outcome.err.constData();
        // The server's clocks place the sweep: no warning that they did not.
        EXPECT_TRUE(outcome.err.isEmpty()) << outcome.err.constData();
        const QJsonObject answer = testsupport::MeasurerAnswer(outcome);
        EXPECT_FALSE(answer["clipped"].toBool());
        const std::vector<Point> points = Points(answer);
        ASSERT_EQ(points.size(), 479u); // 20 Hz * 2^(i/48) up to 20 kHz
        for (const Point& p : points)
            EXPECT_NEAR(p.db, 0.0, 0.1) << p.hz << " Hz, run " << run;
        delays.push_back(answer["delay_samples"].toDouble());
        EXPECT_NEAR(answer["delay_ms"].toDouble(), 1000.0 * delays.back() / Rate, 0.001);

        if (run > 0)
            continue;
        const measure::ResponseParse parsed = measure::LoadResponseFile(text.toStdString());
        ASSERT_TRUE(parsed.ok) << parsed.message;
        ASSERT_EQ(parsed.curve.Size(), points.size());
        for (std::size_t i = 0; i < points.size(); ++i) {
            EXPECT_NEAR(parsed.curve.hz[i], points[i].hz, 1e-5 * points[i].hz);
            EXPECT_NEAR(parsed.curve.db[i], points[i].db, 1e-3);
            EXPECT_NEAR(parsed.curve.degrees[i], points[i].deg, 1e-2);
        }
        // The impulse response begins at zero delay: its unity peak lies
        // where the delay says.
        const platform::WavRead impulse = platform::ReadMonoWav(wav.toStdString());
        ASSERT_TRUE(impulse.ok) << impulse.message;
        const auto peak = std::max_element(impulse.samples.begin(), impulse.samples.end(),
                                           [](float a, float b) { return std::fabs(a) < std::fabs(b); });
        EXPECT_NEAR(static_cast<double>(peak - impulse.samples.begin()), delays.back(), 1.0);
        EXPECT_NEAR(*peak, 1.0, 0.1);
    }
    const auto [least, most] = std::minmax_element(delays.begin(), delays.end());
    EXPECT_LE(*most - *least, 1.0);
    std::printf("delays (samples):");
    for (double d : delays)
        std::printf(" %.2f", d);
    std::printf("\n");
}

TEST_F(MeasureResponse, WrongDeviceSilenceAndNoSamplesEachEndWithTheirLine)
{
    ExpectFailure(Measure({"--play", "test_headset", "--record", "No Such Input", "--seconds", "1"}), 4,
                  "no recording device named 'No Such Input'");
    ExpectFailure(Measure({"--play", "No Such Speakers", "--record", "test_mic", "--seconds", "1"}), 4,
                  "no playback device named 'No Such Speakers'");
    // The line input hears the headset, where nothing plays.
    ExpectFailure(Measure({"--play", "test_speakers", "--record", "Test Line In", "--seconds", "1"}), 7,
                  "No sweep found in the recording");
    const Outcome wrong = Measure({"--play", "test_headset", "--record", "test_mic", "--seconds", "0.5"});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_TRUE(wrong.err.startsWith("sonalyx-measure: --seconds wants a sweep of 1 to 16 s")) << wrong.err.constData();

    if (testsupport::SoundServerKind() == "pipewire")
        return; // PipeWire has no source that delivers nothing
    ASSERT_EQ(testsupport::Pactl("suspend-source test_line_in 1").exitCode, 0);
    const Outcome run = Measure({"--play", "test_headset", "--record", "Test Line In", "--seconds", "1"});
    testsupport::Pactl("suspend-source test_line_in 0");
    ExpectFailure(run, 5, "no samples from 'Test Line In' within 5 s");
}

TEST_F(MeasureResponse, ClippedRecordingPrintsItsAnswerAndExitsWithEight)
{
    // A tone of 0.9 of full scale under the sweep's 0.7: their sum clips.
    testsupport::TonePlayer tone("test_headset", 1000.0, 1000.0, 0.9);
    ASSERT_TRUE(tone.playing());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Outcome run = Measure(
        {"--play", "test_headset", "--record", "test_headset.monitor", "--seconds", "1", "--level", "-3"});
    EXPECT_EQ(run.exitCode, 8) << run.err.constData();
    EXPECT_TRUE(run.err.startsWith("sonalyx-measure: the recording clipped")) << run.err.constData();
    EXPECT_TRUE(testsupport::MeasurerAnswer(run)["clipped"].toBool()) << run.out.constData();
}

TEST_F(MeasureResponse, PipeWireBiquadsReadTheirClosedFormAndADelayAddsItsSamples)
{
    if (testsupport::SoundServerKind() != "pipewire")
        GTEST_SKIP() << "PipeWire's filter-chain";
    const QString biquads = R"({ type = builtin name = peak label = bq_peaking
                                 control = { "Freq" = 1000.0 "Q" = 1.0 "Gain" = 6.0 } }
                               { type = builtin name = shelf label = bq_highshelf
                                 control = { "Freq" = 5000.0 "Q" = 0.7071 "Gain" = -6.0 } })";
    const QString biquadLink = R"({ output = "peak:Out" input = "shelf:In" })";
    // The cookbook's sections, as PipeWire's builtin biquads compute them.
    const testsupport::Biquad peak = testsupport::PeakingBiquad(1000.0, 1.0, 6.0, Rate);
    const testsupport::Biquad shelf = testsupport::HighShelfBiquad(5000.0, 0.7071, -6.0, Rate);
    const auto expected = [&](double hz) {
        return 20.0 * std::log10(std::abs(peak.At(hz, Rate) * shelf.At(hz, Rate)));
    };
    // The filter plays into the headset; its loopback is recorded.
    const QStringList arguments{"--play", "test_filter", "--record", "test_headset.monitor", "--seconds", "2"};

    double plainDelay = 0;
    {
        PipeWireFilter filter(dir, biquads, biquadLink);
        ASSERT_TRUE(filter.ready()) << filter.log().toStdString();
        plainDelay = MeasureFilter(arguments, expected, 0.3, "biquads")["delay_samples"].toDouble();
    }
    // 441 samples, a quarter sample more so that a rounding down keeps 441.
    constexpr int DelaySamples = 441;
    const QString delay = QString(R"x({ type = builtin name = delay label = delay config = { "max-delay" = 1.0 }
                                        control = { "Delay (s)" = %1 } })x")
                              .arg((DelaySamples + 0.25) / Rate, 0, 'g', 10);
    PipeWireFilter filter(dir, biquads + delay, biquadLink + R"({ output = "shelf:Out" input = "delay:In" })");
    ASSERT_TRUE(filter.ready()) << filter.log().toStdString();
    const double delayed = MeasureFilter(arguments, expected, 0.3, "biquads and delay")["delay_samples"].toDouble();
    EXPECT_NEAR(delayed - plainDelay, DelaySamples, 1.0);
}

TEST_F(MeasureResponse, LadspaLowPassReadsItsClosedForm)
{
    if (testsupport::SoundServerKind() == "pipewire")
        GTEST_SKIP() << "PulseAudio's LADSPA sink";
    constexpr double CutoffHz = 2000.0;
    testsupport::LoadedModule ladspa("module-ladspa-sink", "sink_name=test_lpf sink_master=test_headset plugin=filter "
                                                           "label=lpf control=2000 rate=44100 channels=2");
    ASSERT_TRUE(ladspa.loaded()) << "needs the LADSPA SDK's filter.so (ladspa-sdk)";
    MeasureFilter(
        {"--play", "test_lpf", "--record", "test_headset.monitor", "--seconds", "2"},
        [](double hz) { return 20.0 * std::log10(std::abs(OnePoleLowPass(CutoffHz, hz))); }, 0.3, "one-pole low-pass");
}

} // namespace
