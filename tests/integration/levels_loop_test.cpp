// The levels window on the private sound server: the generator's 1 kHz sine
// played into the headset and captured from its loopback reads the same RMS
// level as an independent client's recording of that monitor, computed here
// sample by sample; the level log of a ten-second run has ten lines that
// parse.
#include "common/live_program.h"

#include "app/main.h"
#include "app/main_ticks.h"
#include "generator/Generator.h"
#include "meters/LevelsForm.h"
#include "state/global.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace {

class LevelsLoop : public LiveProgram {
protected:
    void SetUp() override
    {
        LiveProgram::SetUp();
        if (!Running())
            return;
        FGenerator->show();
        FGenerator->LabEditFr1->setText("1000");
        FGenerator->LabEditFr2->setText("1000");
        const int output = FGenerator->CmbBoxAOut->findText("Test Headset");
        ASSERT_GE(output, 0);
        FGenerator->CmbBoxAOut->setCurrentIndex(output);
        FGenerator->CmbBoxAOutChange(output);
        FGenerator->BtnWOutOpenClick();
        ASSERT_TRUE(WaveOutIsOpen);
        ASSERT_TRUE(ChooseSource("Test Headset"));
        ASSERT_TRUE(Loopback);
        FormLevels->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormLevels));
        // The tone has arrived once the Fast level stands still near its level.
        ASSERT_TRUE(WaitFor([] { return LeftFast() > -30.0; }, 5000)) << LeftFast();
        QTest::qWait(500);
    }
    void TearDown() override
    {
        TViewForm::SaveFileHook = nullptr;
        if (WaveOutIsOpen)
            FGenerator->BtnWOutOpenClick();
        LiveProgram::TearDown();
    }
    static double LeftFast()
    {
        FormLevels->PanelLevels->grabFramebuffer();
        return FormLevels->Readings().channels[0].fastDb;
    }
};

// The RMS level in dBFS of one channel of interleaved stereo, a full-scale
// sine reading 0 dB.
double RmsDbfs(const std::vector<int16_t>& frames, std::size_t from, int channel)
{
    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t i = 2 * from + channel; i < frames.size(); i += 2, ++count)
        sum += static_cast<double>(frames[i]) * frames[i];
    return 10.0 * std::log10(sum / count / (32767.0 * 32767.0 / 2.0));
}

TEST_F(LevelsLoop, ReadsTheRmsLevelOfAnIndependentRecordingOfTheLoopback)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string file = dir.filePath("monitor.raw").toStdString();
    FormLevels->BtnResetClick(); // Leq from here, on the steady tone
    std::atomic<bool> recorded{false};
    std::thread recorder([&] {
        testsupport::RunCommand("timeout 4 parec --raw --format=s16le --rate=44100 --channels=2 --latency-msec=50"
                                " --device=test_headset.monitor > '" +
                                file + "'");
        recorded = true;
    });
    WaitFor([&] { return recorded.load(); }, 8000); // the program measures meanwhile
    recorder.join();
    FormLevels->PanelLevels->grabFramebuffer();
    const measure::ChannelLevels levels[2] = {FormLevels->Readings().channels[0], FormLevels->Readings().channels[1]};

    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> frames(bytes.size() / 2);
    std::memcpy(frames.data(), bytes.data(), frames.size() * 2);
    ASSERT_GT(frames.size() / 2, 44100u * 2) << "parec recorded less than 2 s";
    const std::size_t skip = 4410; // the recording's first moments
    for (int channel = 0; channel < 2; ++channel) {
        SCOPED_TRACE(channel);
        const double recordedDb = RmsDbfs(frames, skip, channel);
        EXPECT_GT(recordedDb, -30.0) << "the tone is in the recording";
        EXPECT_NEAR(levels[channel].leqDb, recordedDb, 0.1);
        EXPECT_NEAR(levels[channel].slowDb, recordedDb, 0.1);
        EXPECT_GT(levels[channel].seconds, 3.0);
    }
}

TEST_F(LevelsLoop, TheLogOfATenSecondRunHasTenLines)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("levels.csv");
    TViewForm::SaveFileHook = [&](const QString&) { return path; };
    FormLevels->BtnLogClick();
    ASSERT_TRUE(FormLevels->Logging());
    // A block in flight may have reached the meters before the log began:
    // one block more than ten seconds' worth makes ten whole seconds.
    const uint64_t start = CapturedBlocks;
    ASSERT_TRUE(WaitFor([&] { return CapturedBlocks.load() >= start + 101; }, 20000));
    FormLevels->BtnLogClick();
    EXPECT_FALSE(FormLevels->Logging());
    EXPECT_TRUE(app->messages.empty());

    QFile log(path);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = log.readAll().split('\n');
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.back().isEmpty()) << "every line ended";
    lines.pop_back();
    ASSERT_EQ(lines.size(), 11) << "a header and ten seconds";
    for (int i = 1; i < lines.size(); ++i) {
        SCOPED_TRACE(i);
        const QList<QByteArray> fields = lines[i].split(',');
        ASSERT_EQ(fields.size(), 9);
        for (int field = 1; field < 9; ++field) {
            if (field == 8 && i <= 3 && fields[field].isEmpty())
                continue; // the short-term loudness may need the log's first 3 s
            bool number = false;
            const double value = fields[field].toDouble(&number);
            EXPECT_TRUE(number) << field << ": " << fields[field].toStdString();
            EXPECT_GT(value, -40.0) << field << " (the generator plays a full-scale sine)";
            EXPECT_LT(value, 0.5) << field;
        }
    }
}

} // namespace
