// Cost of one render of each view as the program paints it: the OpenGL
// drawing on the view's offscreen surface (Mesa) and the read-back of the
// picture, at the sizes the default layout gives on a 1920 x 1080 screen
// (or the screen the display has), with a 1000 Hz tone in both channels.
// The spectrogram's render draws one new block each time.
//
// Needs an X display with OpenGL (scripts/measure_views.sh runs it on its
// own Xvfb, or: xvfb-run build/bench/render_bench). Prints microseconds per
// render.
#include "analysis/spectrum.h"
#include "app/main.h"
#include "platform/soundserver.h"
#include "state/global.h"
#include "support/inprocess_server.h"
#include "views/SpTmForm.h"
#include "views/SpectForm.h"
#include "views/WaveForm.h"

#include <QApplication>
#include <QScreen>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <mutex>

namespace {

// A tone in both channels of the whole history, analysed.
void StoreTone(int block)
{
    std::lock_guard<std::mutex> guard(DataLock);
    for (int k = -HistoryHalf; k < HistoryHalf; ++k) {
        const double t = (block * HistoryHalf + k) / 44100.0;
        const auto v = static_cast<int16_t>(std::lround(20000 * std::sin(2 * M_PI * 1000 * t)));
        Sample(1, k) = v;
        Sample(2, k) = static_cast<int16_t>(v / 2);
    }
    AnalyseBlock();
}

void BM_RenderWaveform(benchmark::State& state)
{
    StoreTone(0);
    for (auto _ : state)
        benchmark::DoNotOptimize(FormWave->Panel1->grabFramebuffer().constBits());
    state.SetLabel(std::to_string(FormWave->Panel1->width()) + " x " + std::to_string(FormWave->Panel1->height()));
}

void BM_RenderSpectrum(benchmark::State& state)
{
    StoreTone(0);
    for (auto _ : state)
        benchmark::DoNotOptimize(FormSpect->PanelSpec->grabFramebuffer().constBits());
    state.SetLabel(std::to_string(FormSpect->PanelSpec->width()) + " x " +
                   std::to_string(FormSpect->PanelSpec->height()));
}

void BM_RenderSpectrogram(benchmark::State& state)
{
    int block = 0;
    for (auto _ : state) {
        state.PauseTiming();
        StoreTone(++block); // one new block to draw
        state.ResumeTiming();
        benchmark::DoNotOptimize(FormSpTm->PanelSpTm->grabFramebuffer().constBits());
    }
    state.SetLabel(std::to_string(FormSpTm->PanelSpTm->width()) + " x " +
                   std::to_string(FormSpTm->PanelSpTm->height()));
}

BENCHMARK(BM_RenderWaveform)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderSpectrum)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderSpectrogram)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY")) {
        std::printf("render_bench: needs an X display with OpenGL\n");
        return 0;
    }
    QApplication app(argc, argv);
    auto server = std::make_unique<platform::InProcessServer>();
    server->addSink("speakers", "Speakers");
    platform::SetServer(std::move(server));
    IsInstalled = false;
    CreateForms();
    FormMain->TimerInfo->stop(); // the views are arranged here, nothing is captured
    FormMain->setGeometry(QApplication::primaryScreen()->availableGeometry());
    FormMain->show();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    FormMain->ArrangeViews();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    DestroyForms();
    platform::ResetServer();
    return 0;
}
