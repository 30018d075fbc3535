#include "common/measurer_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <gtest/gtest.h>

#include <cmath>

namespace testsupport {

MeasurerRun RunMeasurer(const QStringList& arguments, const QString& server, int timeoutMs)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    if (!server.isEmpty())
        env.insert("PULSE_SERVER", server);
    process.setProcessEnvironment(env);
    process.start(SONALYX_MEASURE, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

QJsonObject MeasurerAnswer(const MeasurerRun& run)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(run.out, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << run.out.constData();
    return document.object();
}

std::vector<BandLevel> BandLevels(const QJsonObject& answer)
{
    std::vector<BandLevel> bands;
    for (const QJsonValue& value : answer["bands"].toArray()) {
        const QJsonObject b = value.toObject();
        bands.push_back(
            {b["nominal_hz"].toDouble(), b["centre_hz"].toDouble(), b["left_db"].toDouble(), b["right_db"].toDouble()});
    }
    return bands;
}

void ExpectFlatPinkNoise(const std::vector<BandLevel>& bands)
{
    std::vector<std::pair<double, double>> levels; // nominal, level of both channels
    for (const BandLevel& band : bands)
        if (band.nominal >= 31.5 && band.nominal <= 16000)
            levels.push_back(
                {band.nominal, 10 * std::log10((std::pow(10, band.left / 10) + std::pow(10, band.right / 10)) / 2)});
    ASSERT_EQ(levels.size(), 28u) << "31.5 Hz .. 16 kHz";
    double mean = 0;
    int count = 0;
    for (const auto& [nominal, level] : levels)
        if (nominal >= 63)
            mean += level, ++count;
    mean /= count;
    for (const auto& [nominal, level] : levels)
        EXPECT_NEAR(level, mean, nominal >= 63 ? 0.5 : 1.0) << nominal << " Hz";
}

void ExpectWhiteNoiseSlope(const std::vector<BandLevel>& bands)
{
    for (bool left : {true, false}) {
        double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (const BandLevel& band : bands) {
            if (band.nominal < 63 || band.nominal > 16000)
                continue;
            const double x = std::log2(band.centre / 1000), y = left ? band.left : band.right;
            n += 1, sx += x, sy += y, sxx += x * x, sxy += x * y;
        }
        ASSERT_GE(n, 20);
        EXPECT_NEAR((n * sxy - sx * sy) / (n * sxx - sx * sx), 3.0, 0.2) << (left ? "left" : "right");
    }
}

} // namespace testsupport
