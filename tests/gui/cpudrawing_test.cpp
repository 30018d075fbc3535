// The spectrogram written on the CPU against its OpenGL line batches on the
// same renderer: the same blocks through both give the same picture, pixel
// for pixel, after every render. Runs at one device pixel per pixel and, in
// the "HiDpi.AtTwoDevicePixelsPerPixel" entry, at two.
#include "common/app_support.h"

#include "analysis/SpTmBlocks.h"
#include "analysis/SpTmMap.h"
#include "app/main.h"
#include "state/global.h"
#include "support/inprocess_server.h"
#include "views/SpTmForm.h"
#include "views/SpTmGraph.h"

#include <QCoreApplication>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace {

// Magnitudes over every colour level at gain 10, with silent slices (no
// peak mark), ties for the peak, NaN and negative values among them.
class BlockSource {
public:
    // Each start gives its own sequence of blocks, the same every run.
    explicit BlockSource(unsigned start) : random(start) {}

    void Keep()
    {
        std::lock_guard<std::mutex> guard(DataLock);
        for (int ch = 1; ch <= 2; ++ch)
            for (int slice = 1 - SliceCount; slice <= 0; ++slice)
                FillSlice(ch, slice);
        ++SpTmColumn;
        SpTmKeepBlock();
    }

private:
    void FillSlice(int ch, int slice)
    {
        const int kind = Draw(0, 9);
        for (int bin = 0; bin <= TopBin; ++bin) {
            float& m = Spectrum(ch, slice, bin);
            if (kind == 0) {
                m = 0; // silence
            } else if (kind == 1) {
                m = 400; // one level everywhere: the peak is the lowest bin
            } else {
                const double root = std::uniform_real_distribution<double>(0, 65)(random);
                m = static_cast<float>(root * root);
                const int odd = Draw(0, 999);
                if (odd == 0)
                    m = std::numeric_limits<float>::quiet_NaN();
                else if (odd == 1)
                    m = -1;
            }
        }
    }
    int Draw(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

    std::mt19937 random;
};

struct Layout {
    int clientWidth, clientHeight;
    bool light, showLeft, showRight;
    float gain;
    std::string Name() const
    {
        return std::to_string(clientWidth) + "x" + std::to_string(clientHeight) + (light ? " light" : " dark") +
               (showLeft ? " left" : "") + (showRight ? " right" : "") + " gain " + std::to_string(gain);
    }
};

std::string Hex(QRgb pixel)
{
    return QString::number(pixel & 0xffffff, 16).rightJustified(6, '0').toStdString();
}

::testing::AssertionResult SamePictures(const QImage& cpu, const QImage& gl)
{
    if (cpu.size() != gl.size())
        return ::testing::AssertionFailure() << "sizes differ";
    int differing = 0, firstX = -1, firstY = -1;
    for (int y = 0; y < gl.height(); ++y)
        for (int x = 0; x < gl.width(); ++x)
            if (cpu.pixel(x, y) != gl.pixel(x, y) && differing++ == 0) {
                firstX = x;
                firstY = y;
            }
    if (differing == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " pixels differ, the first at (" << firstX << ", " << firstY
                                         << "): cpu " << Hex(cpu.pixel(firstX, firstY)) << ", OpenGL "
                                         << Hex(gl.pixel(firstX, firstY));
}

class SameAsOpenGL : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallMicAndSpeakers(platform::Sine(1000, 10000, 1000, 10000));
        app = std::make_unique<AppHarness>(true);
        IsInstalled = true;
        FormSpTm->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormSpTm));
    }
    void TearDown() override
    {
        app.reset();
        sptm::ForgetBlocks();
        ShowLeft = ShowRight = true;
        LightBackground = false;
        KaSpTm = 10;
        platform::ResetServer();
    }

    static void Apply(const Layout& layout)
    {
        LightBackground = layout.light;
        ShowLeft = layout.showLeft;
        ShowRight = layout.showRight;
        KaSpTm = layout.gain;
        FormSpTm->resize(layout.clientWidth, layout.clientHeight);
        QCoreApplication::processEvents();
        FormSpTm->DrawSpTmFrame();
    }

    // One sweep and a half from the left edge: groups of one to four blocks
    // per render. Returns the picture after each render.
    static std::vector<QImage> Sweep(bool cpu)
    {
        TPlotSurface* panel = FormSpTm->PanelSpTm;
        panel->SetCpuDrawing(cpu);
        sptm::ForgetBlocks();
        {
            std::lock_guard<std::mutex> guard(DataLock);
            SpTmColumn = 0;
        }
        ClearSpTm();
        BlockSource source(7);
        std::mt19937 grouping(11);
        std::vector<QImage> pictures;
        const int blocks = panel->width() * 3 / 2 / sptm::SlicesPerColumnBlock + 2;
        for (int kept = 0; kept < blocks;) {
            const int group = std::uniform_int_distribution<int>(1, 4)(grouping);
            for (int i = 0; i < group; ++i, ++kept)
                source.Keep();
            pictures.push_back(panel->grabFramebuffer().convertToFormat(QImage::Format_RGB32));
        }
        return pictures;
    }

    static void Compare(const Layout& layout)
    {
        SCOPED_TRACE(layout.Name());
        Apply(layout);
        const std::vector<QImage> gl = Sweep(false);
        const std::vector<QImage> cpu = Sweep(true);
        ASSERT_TRUE(FormSpTm->PanelSpTm->CpuDrawing()) << "the layout's pixels could not be learnt";
        ASSERT_EQ(cpu.size(), gl.size());
        for (size_t i = 0; i < gl.size(); ++i)
            ASSERT_TRUE(SamePictures(cpu[i], gl[i])) << "after render " << i;
    }

    std::unique_ptr<AppHarness> app;
};

TEST_F(SameAsOpenGL, SpectrogramInBothSchemesEveryChannelChoiceAndTwoSizes)
{
    // The default window, and an odd size whose width is no multiple of
    // ten: the last block of a sweep runs past the right edge.
    for (const auto& [w, h] : {std::pair{744, 601}, std::pair{517, 389}})
        for (const bool light : {false, true})
            for (const auto& [left, right] : {std::pair{true, true}, std::pair{true, false}, std::pair{false, true}})
                Compare({w, h, light, left, right, light ? 7.5f : 10.0f});
}

TEST_F(SameAsOpenGL, ClearAndResizeGiveTheSameClearPicture)
{
    for (const bool light : {false, true}) {
        Apply({600, 450, light, true, true, 10});
        TPlotSurface* panel = FormSpTm->PanelSpTm;
        panel->SetCpuDrawing(false);
        ClearSpTm();
        const QImage gl = panel->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
        panel->SetCpuDrawing(true);
        const QImage fresh = panel->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
        EXPECT_TRUE(SamePictures(fresh, gl)) << "a new picture, light " << light;
        BlockSource(3).Keep();
        panel->grabFramebuffer();
        ClearSpTm();
        EXPECT_TRUE(SamePictures(panel->grabFramebuffer().convertToFormat(QImage::Format_RGB32), gl))
            << "after a clear, light " << light;
    }
}

} // namespace
