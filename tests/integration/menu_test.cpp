// The main menu and the control strip with the real program against the
// private PulseAudio daemon: captions and check marks, pause, the channel
// choice and the window function, arranging and colour schemes, the view
// captions, media files through a stand-in player, the about box, help,
// the sound settings tool and the keyboard.
#include "common/live_program.h"

#include "about/about.h"
#include "analysis/spectrum.h"
#include "app/arrange.h"
#include "app/main.h"
#include "capture/WaveIn.h"
#include "generator/Generator.h"
#include "meters/BandsForm.h"
#include "meters/LevelsForm.h"
#include "platform/soundserver.h"
#include "platform/wavedev.h"
#include "state/global.h"
#include "views/SpTmForm.h"
#include "views/SpectForm.h"
#include "views/WaveForm.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>

using testsupport::Pactl;

namespace {

QStringList Captions(const QMenu* menu)
{
    QStringList captions;
    for (const QAction* item : menu->actions())
        captions << (item->isSeparator() ? "-" : item->text());
    return captions;
}

// A folder at the front of PATH for the test's whole process, holding an
// xdg-open that notes what it is asked to open (SONALYX_OPENED_LOG) and
// hands sound files to the stand-in player. The desktop services find and
// keep this xdg-open the first time they look for one.
class StandInDesktop {
public:
    static StandInDesktop& Get()
    {
        static StandInDesktop desktop;
        return desktop;
    }
    QString log() const { return dir_.filePath("opened.log"); }
    QString playerLog() const { return dir_.filePath("player.log"); }
    QString folder() const { return dir_.path(); }
    QStringList opened() const { return Lines(log()); }
    QStringList player() const { return Lines(playerLog()); }
    void forget() const
    {
        QFile::remove(log());
        QFile::remove(playerLog());
    }

private:
    StandInDesktop()
    {
        QFile script(dir_.filePath("xdg-open"));
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\n"
                     "echo \"$1\" >> \"$SONALYX_OPENED_LOG\"\n"
                     "case \"$1\" in *.wav) exec \"$FAKE_PLAYER_BINARY\" \"$1\" ;; esac\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", dir_.path().toUtf8() + ":" + qgetenv("PATH"));
        qputenv("SONALYX_OPENED_LOG", log().toUtf8());
        qputenv("FAKE_PLAYER_LOG", playerLog().toUtf8());
        qputenv("FAKE_PLAYER_BINARY", FAKE_PLAYER);
    }
    static QStringList Lines(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    QTemporaryDir dir_;
};

// A 16-bit stereo WAV file of a sine, `seconds` long.
void WriteToneFile(const QString& path, double hertz, int seconds)
{
    const uint32_t frames = 44100u * seconds;
    std::vector<int16_t> samples(2 * frames);
    for (uint32_t n = 0; n < frames; ++n)
        samples[2 * n] = samples[2 * n + 1] = static_cast<int16_t>(
            std::lround(30000 * std::sin(2 * M_PI * hertz * n / 44100)));
    testsupport::WriteStereoWav(path.toStdString(), samples);
}

class MainMenu : public LiveProgram {
protected:
    void SetUp() override
    {
        StandInDesktop::Get().forget();
        LiveProgram::SetUp();
    }

    bool Said(const std::string& message) const
    {
        return std::find(app->messages.begin(), app->messages.end(), message) != app->messages.end();
    }

    static QImage Picture(TPlotSurface* plot)
    {
        QCoreApplication::processEvents();
        return plot->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    }
};

TEST_F(MainMenu, HasItsMenusAndItemsAsCaptioned)
{
    QStringList menus;
    for (const QAction* menu : FormMain->menuBar()->actions())
        menus << menu->text();
    EXPECT_EQ(menus, QStringList({"File", "View", "Options", "Help"}));
    EXPECT_EQ(Captions(FormMain->menuFile), QStringList({"Open Media File...", "Exit"}));
    EXPECT_EQ(Captions(FormMain->menuView),
              QStringList({"Waveform", "   - Waveform Scales", "Spectrum", "     - Spectrum Scales", "Spectrogram",
                           "    - Spectrogram Scale", "Octave Bands", "    - Octave Bands Scales", "Levels", "-",
                           "Show and Arrange All Windows", "-", "Filter..."}));
    EXPECT_EQ(
        Captions(FormMain->menuOptions),
        QStringList({"Generator", "Distortion Analyzer...", "Frequency Response...", "-", "Dark Color Scheme", "-",
                     "Recording Device...", "Playback Device...", "Sound Volume Mixer...", "-", "Thick Lines"}));
    EXPECT_EQ(Captions(FormMain->menuHelp), QStringList({"Help Contents", "-", "About"}));
    EXPECT_FALSE(FormMain->menuFilter->isVisible());
    EXPECT_FALSE(FormMain->menuThickLines->isVisible());
    EXPECT_EQ(FormMain->menuHelpContents->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(FormMain->menuMediaFile->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(FormMain->menuExit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST_F(MainMenu, CheckMarksAndScaleItemsFollowTheViews)
{
    FormMain->menuSpectClick(); // closes the shown spectrum
    EXPECT_FALSE(SpectShow);
    EXPECT_FALSE(FormSpect->isVisible());
    FormMain->menuViewClick();
    EXPECT_TRUE(FormMain->menuWaveform->isChecked());
    EXPECT_TRUE(FormMain->menuWaveScales->isEnabled());
    EXPECT_FALSE(FormMain->menuSpectrum->isChecked());
    EXPECT_FALSE(FormMain->menuSpectScales->isEnabled());
    EXPECT_TRUE(FormMain->menuSpectTime->isChecked());

    FormMain->menuSpectClick(); // shows it again, framed
    EXPECT_TRUE(SpectShow);
    EXPECT_TRUE(FormSpect->isVisible());
    EXPECT_TRUE(FormSpect->FrameIntact());
    FormMain->menuViewClick();
    EXPECT_TRUE(FormMain->menuSpectScales->isEnabled());

    FormMain->menuWaveScalesClick();
    EXPECT_TRUE(FormWave->PanelWaveSnd->isVisible());
    EXPECT_EQ(FormWave->PanelWaveSnd->pos(), QPoint(5, 5));
    FormMain->menuWaveScalesClick();
    EXPECT_FALSE(FormWave->PanelWaveSnd->isVisible());
    FormMain->menuSpectrogramRangesClick();
    EXPECT_TRUE(FormSpTm->PanelGain->isVisible());

    // The octave view is closed until opened here.
    EXPECT_FALSE(FormMain->menuBands->isChecked());
    EXPECT_FALSE(FormMain->menuBandsScales->isEnabled());
    FormMain->menuBandsClick();
    EXPECT_TRUE(BandsShow);
    EXPECT_TRUE(FormBands->isVisible());
    EXPECT_TRUE(FormBands->FrameIntact());
    FormMain->menuViewClick();
    EXPECT_TRUE(FormMain->menuBands->isChecked());
    EXPECT_TRUE(FormMain->menuBandsScales->isEnabled());
    FormMain->menuBandsScalesClick();
    EXPECT_TRUE(FormBands->PanelBandsScale->isVisible());
    FormMain->menuBandsClick();
    EXPECT_FALSE(BandsShow);
    EXPECT_FALSE(FormBands->isVisible());

    // So is the levels view.
    EXPECT_FALSE(FormMain->menuLevels->isChecked());
    FormMain->menuLevelsClick();
    EXPECT_TRUE(LevelsShow);
    EXPECT_TRUE(FormLevels->isVisible());
    EXPECT_TRUE(FormLevels->FrameIntact());
    FormMain->menuViewClick();
    EXPECT_TRUE(FormMain->menuLevels->isChecked());
    FormMain->menuLevelsClick();
    EXPECT_FALSE(LevelsShow);

    FormMain->menuOptionsClick();
    EXPECT_TRUE(FormMain->menuIsDark->isChecked());
    FormMain->menuThickLinesClick();
    FormMain->menuOptionsClick();
    EXPECT_TRUE(FormMain->menuThickLines->isChecked());
}

TEST_F(MainMenu, PauseFreezesEveryViewUntilResumeOrADeviceStart)
{
    ASSERT_TRUE(WaitForBlocks(2));
    FormMain->BtnPauseClick();
    EXPECT_TRUE(Paused);
    EXPECT_EQ(FormMain->BtnPause->text(), "Resume");
    ASSERT_TRUE(WaitForAHeldCaptureTick()); // a block in flight lands
    const QImage wave = Picture(FormWave->Panel1);
    const QImage spect = Picture(FormSpect->PanelSpec);
    const QImage sptm = Picture(FormSpTm->PanelSpTm);
    const int32_t blocks = BlocksSoFar();
    ASSERT_TRUE(WaitForHeldWaveInBlocks());
    EXPECT_EQ(BlocksSoFar(), blocks);
    EXPECT_EQ(Picture(FormWave->Panel1), wave);
    EXPECT_EQ(Picture(FormSpect->PanelSpec), spect);
    EXPECT_EQ(Picture(FormSpTm->PanelSpTm), sptm);

    FormMain->BtnPauseClick();
    EXPECT_FALSE(Paused);
    EXPECT_EQ(FormMain->BtnPause->text(), "Pause");
    EXPECT_TRUE(WaitForBlocks(2));

    FormMain->BtnPauseClick();
    ASSERT_TRUE(ChooseSource("Test Line In"));
    EXPECT_FALSE(Paused) << "a device start ends the pause";
    EXPECT_EQ(FormMain->BtnPause->text(), "Pause");
}

TEST_F(MainMenu, RightWhilePausedRecomputesTheNewestSpectrumFromTheSamples)
{
    ASSERT_TRUE(WaitForBlocks(2));
    FormMain->BtnPauseClick();
    ASSERT_TRUE(WaitForAHeldCaptureTick());
    {
        std::lock_guard<std::mutex> guard(DataLock);
        for (int ch = 1; ch <= 2; ++ch)
            for (int bin = 0; bin <= TopBin; ++bin)
                Spectrum(ch, 0, bin) = 0;
    }
    FormMain->RBtn2->setChecked(true);
    FormMain->RBtn2Click();
    EXPECT_FALSE(ShowLeft);
    EXPECT_TRUE(ShowRight);
    EXPECT_EQ(PeakBin(1), 93);
    EXPECT_EQ(PeakBin(2), 93);

    const QImage spect = Picture(FormSpect->PanelSpec);
    const QColor left(SchemeR[3], SchemeG[3], SchemeB[3]);
    const QColor right(SchemeR[4], SchemeG[4], SchemeB[4]);
    int leftPixels = 0, rightPixels = 0;
    for (int y = 0; y < spect.height(); ++y)
        for (int x = 0; x < spect.width(); ++x) {
            leftPixels += QColor(spect.pixel(x, y)) == left;
            rightPixels += QColor(spect.pixel(x, y)) == right;
        }
    EXPECT_EQ(leftPixels, 0);
    EXPECT_GT(rightPixels, 50);
    EXPECT_EQ(FormSpTm->PanelLeft->text(), "Right");
}

TEST_F(MainMenu, AWindowFunctionNoItemNamesAnalysesUnweighted)
{
    QLineEdit* edit = FormMain->CmbBoxWindow->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, "abc");
    EXPECT_EQ(WindowFunction, -1);
    ASSERT_TRUE(WaitForBlocks(2));
    FormMain->BtnPauseClick();
    ASSERT_TRUE(WaitForAHeldCaptureTick());
    std::lock_guard<std::mutex> guard(DataLock);
    std::vector<float> rectangular(TopBin + 1);
    SliceMagnitudes(&Sample(1, 0), 0, rectangular.data());
    for (int bin = 0; bin <= TopBin; ++bin)
        ASSERT_EQ(Spectrum(1, 0, bin), rectangular[bin]) << "bin " << bin;
}

TEST_F(MainMenu, ShowAndArrangeAllOpensTheClosedViewsInTheDefaultLayout)
{
    FormMain->setGeometry(FormMain->screen()->availableGeometry()); // as the program starts
    FormMain->show();
    ASSERT_TRUE(WaitFor([] { return FormMain->centralWidget()->width() > 1000; }, 2000));
    FormWave->close();
    FormSpect->close();
    FormSpTm->close();
    ASSERT_FALSE(WaveShow || SpectShow || SpTmShow);
    FormMain->menuShowAllClick();
    EXPECT_TRUE(WaveShow && SpectShow && SpTmShow);
    for (TViewForm* view :
         {static_cast<TViewForm*>(FormWave), static_cast<TViewForm*>(FormSpect), static_cast<TViewForm*>(FormSpTm)}) {
        EXPECT_TRUE(view->isVisible());
        EXPECT_TRUE(view->FrameIntact());
    }
    const QWidget* client = FormMain->centralWidget();
    const int clientTop = client->mapToGlobal(QPoint(0, 0)).y() - FormMain->screen()->geometry().top();
    const ViewLayout layout = DefaultViewLayout(client->width(), client->height(), FormMain->PanelControl->y(),
                                                FormMain->PanelControl->height(), clientTop);
    EXPECT_EQ(FormWave->OuterGeometry(), layout.wave);
    EXPECT_EQ(FormSpTm->OuterGeometry(), layout.sptm);
    EXPECT_EQ(FormSpect->OuterGeometry().topLeft(), QPoint(0, layout.wave.y() + layout.wave.height()));
}

TEST_F(MainMenu, DarkColorSchemeTwiceComesBackAndClearsTheSpectrogramEachTime)
{
    ASSERT_TRUE(WaitForBlocks(10)); // the tone is drawn across the spectrogram
    FormMain->BtnPauseClick();
    ASSERT_TRUE(WaitForAHeldCaptureTick());
    const auto mostlyCleared = [](const QImage& image) {
        const QRgb clear = image.pixel(image.width() - 2, 1);
        int cleared = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                cleared += image.pixel(x, y) == clear;
        return cleared > image.width() * image.height() * 9 / 10;
    };
    FormMain->menuIsDarkClick();
    EXPECT_TRUE(LightBackground);
    EXPECT_EQ(SchemeR[3], 150);
    EXPECT_TRUE(mostlyCleared(Picture(FormSpTm->PanelSpTm)));
    FormMain->BtnPauseClick(); // draw the tone again
    ASSERT_TRUE(WaitForBlocks(10));
    FormMain->BtnPauseClick();
    ASSERT_TRUE(WaitForAHeldCaptureTick());
    EXPECT_FALSE(mostlyCleared(Picture(FormSpTm->PanelSpTm)));
    FormMain->menuIsDarkClick();
    EXPECT_FALSE(LightBackground);
    EXPECT_EQ(SchemeR[3], 255);
    EXPECT_EQ(SchemeG[3], 200);
    EXPECT_TRUE(mostlyCleared(Picture(FormSpTm->PanelSpTm)));
}

TEST_F(MainMenu, ViewCaptionsTellWhenALoopbackDeviceStopsPlaying)
{
    FormMain->TimerInfoTimer();
    EXPECT_EQ(FormWave->windowTitle(), "Waveform") << "wave-in: no suffix";
    EXPECT_EQ(FormSpect->windowTitle(), "Spectum");

    // A loopback that plays: its blocks come every 100 ms, give or take the
    // server's period, and the captions never say it stopped.
    ASSERT_TRUE(ChooseSource("Test Headset"));
    QStringList seen, when;
    for (int waited = 0; waited < 3000; waited += 20) {
        QTest::qWait(20);
        if (!seen.contains(FormWave->windowTitle())) {
            seen << FormWave->windowTitle();
            when << QString("%1 at %2 ms").arg(FormWave->windowTitle()).arg(waited);
        }
    }
    EXPECT_EQ(seen, QStringList({"Waveform"})) << when.join(", ").toStdString();

    // A loopback whose device went away delivers nothing. The 100 ms tick
    // runs here by hand: its device watch would start another source as soon
    // as it saw the device gone, so the watch is told of the new count first.
    // (The PulseAudio daemon could also suspend the sink, but PipeWire's
    // service keeps a suspended sink's monitor running.)
    testsupport::LoadedModule sink("module-null-sink",
                                   "sink_name=quiet_sink sink_properties=device.description=QuietSink");
    ASSERT_TRUE(WaitFor([] { return FormMain->CmbBoxAIn->findText("QuietSink") >= 0; }, 2000));
    ASSERT_TRUE(ChooseSource("QuietSink"));
    ASSERT_TRUE(WaitForBlocks(3)); // the ticks see it deliver
    FormMain->TimerInfo->stop();
    // A block after the last tick: the first tick by hand finds a read.
    ASSERT_TRUE(WaitFor([] { return LoopbackBytes == 17640u; }, 1000)) << LoopbackBytes;
    const int devices = platform::WaveInGetNumDevs() + platform::WaveOutGetNumDevs();
    ASSERT_TRUE(sink.unload());
    ASSERT_TRUE(WaitFor(
        [&] {
            CurInDevs = platform::WaveInGetNumDevs();
            CurOutDevs = platform::WaveOutGetNumDevs();
            return CurInDevs + CurOutDevs < devices;
        },
        2000));
    NumInDevs = CurInDevs;
    NumOutDevs = CurOutDevs;
    for (int tick = 1; tick <= 3; ++tick) {
        FormMain->TimerInfoTimer();
        EXPECT_EQ(FormWave->windowTitle().toStdString(),
                  tick < 3 ? "Waveform" : "Waveform - Device has stopped playing!")
            << "tick " << tick;
    }
    EXPECT_EQ(FormSpect->windowTitle(), "Spectum - Device has stopped playing!");
    EXPECT_EQ(FormSpTm->windowTitle(), "Spectrogram - Device has stopped playing!");
}

TEST_F(MainMenu, AMediaFileIsPlayedByTheDesktopAndAnalysedThroughTheLoopback)
{
    QTemporaryDir dir;
    const QString song = dir.filePath("tone 2000.wav");
    WriteToneFile(song, 2000, 8);
    // Typed into the dialog's file name box, as a user does.
    QTimer::singleShot(300, [&] {
        auto* name = FormMain->OpenDialog1->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(song);
        QTest::keyClick(name, Qt::Key_Return);
    });
    FormMain->menuMediaFileClick();
    EXPECT_EQ(MediaFile, song.toStdString());
    EXPECT_TRUE(Loopback);
    EXPECT_EQ(SelRecDev, PlaybackLoopDev);
    EXPECT_EQ(DeviceName, "Test Speakers");
    EXPECT_EQ(FormMain->windowTitle(), "Sonalyx - Test Speakers    " + song);
    EXPECT_TRUE(FormMain->ImageMicro->isHidden());
    EXPECT_FALSE(FormMain->ImageSpeaker->isHidden());

    // The stand-in player plays the file into the default sink.
    ASSERT_TRUE(WaitFor(
        [] { return StandInDesktop::Get().player().contains("opened " + QString::fromStdString(MediaFile)); }, 5000));
    const int bin2000 = static_cast<int>(std::lround(2000 / BinWidth));
    EXPECT_TRUE(WaitFor([&] { return PeakBin(1) == bin2000; }, 3000)) << PeakBin(1);
    // The 100 ms ticks caption the views.
    EXPECT_TRUE(WaitFor([&] { return FormWave->windowTitle() == "Waveform - " + song; }, 1000))
        << FormWave->windowTitle().toStdString();
    EXPECT_EQ(FormSpTm->windowTitle(), "Spectrogram - " + song);

    // Closing the program asks the player's window to close.
    FormMain->close();
    EXPECT_TRUE(WaitFor([&] { return StandInDesktop::Get().player().contains("closed " + song); }, 5000))
        << StandInDesktop::Get().player().join("\n").toStdString();
}

TEST_F(MainMenu, WithoutAPlaybackLoopbackMediaFilesAndTheGeneratorAreRefused)
{
    PlaybackLoopDev = -1;
    FormMain->menuMediaFileClick();
    FormMain->menuGeneratorClick();
    EXPECT_EQ(std::count(app->messages.begin(), app->messages.end(), "Enable any playback device!"), 2);
    EXPECT_FALSE(FGenerator->isVisible());
    EXPECT_TRUE(MediaFile.empty());
}

TEST_F(MainMenu, GeneratorAndAboutOpenFromTheirItems)
{
    FormMain->menuGeneratorClick();
    EXPECT_TRUE(FGenerator->isVisible());
    EXPECT_TRUE(GenPlaying);

    bool wasModal = false;
    QTimer::singleShot(200, [&] {
        wasModal = QApplication::activeModalWidget() == FormAbout;
        QTest::mouseClick(FormAbout->BitBtnClose, Qt::LeftButton);
    });
    FormMain->menuAboutClick();
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(FormAbout->isVisible());
}

TEST_F(MainMenu, HelpContentsOpensTheHelpFileElseTheManualElseSaysWhereItLooked)
{
    const QString program = QCoreApplication::applicationFilePath();
    const QString helpFile = program + ".chm";
    const QString manualDir = QFileInfo(program).dir().filePath("docs/manual");
    QDir().mkpath(manualDir);
    QFile(manualDir + "/index.html").open(QIODevice::WriteOnly);
    QFile(helpFile).open(QIODevice::WriteOnly);

    FormMain->menuHelpContentsClick();
    QFile::remove(helpFile);
    FormMain->menuHelpContentsClick();
    QDir(QFileInfo(program).dir().filePath("docs")).removeRecursively();
    ASSERT_TRUE(WaitFor([] { return StandInDesktop::Get().opened().size() >= 2; }, 5000));
    const QStringList opened = StandInDesktop::Get().opened();
    EXPECT_TRUE(opened[0].endsWith("integration_tests.chm")) << opened[0].toStdString();
    EXPECT_TRUE(opened[1].endsWith("docs/manual/index.html")) << opened[1].toStdString();

    FormMain->menuHelpContentsClick();
    ASSERT_FALSE(app->messages.empty());
    EXPECT_EQ(app->messages.back().rfind("No help was found. Looked for:\n" + helpFile.toStdString(), 0), 0u)
        << app->messages.back();
}

TEST_F(MainMenu, SoundSettingsWithoutTheToolNameItsPackage)
{
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", StandInDesktop::Get().folder().toUtf8()); // no pavucontrol there
    FormMain->menuAInClick();
    FormMain->menuPlaybackDeviceClick();
    FormMain->menuMixerClick();
    qputenv("PATH", path);
    ASSERT_EQ(app->messages.size(), 3u);
    for (const std::string& message : app->messages)
        EXPECT_NE(message.find("pavucontrol"), std::string::npos) << message;
}

TEST_F(MainMenu, SpaceInAViewPausesAndResumes)
{
    FormSpect->activateWindow();
    QApplication::setActiveWindow(FormSpect);
    QTest::keyClick(FormSpect, Qt::Key_Space);
    EXPECT_TRUE(Paused);
    QTest::keyClick(FormSpect, Qt::Key_Space);
    EXPECT_FALSE(Paused);
}

TEST_F(MainMenu, TheControlStripShowsEveryCaptionWhole)
{
    for (QWidget* control : FormMain->PanelControl->findChildren<QWidget*>()) {
        if (!control->isVisible() || (qobject_cast<QFrame*>(control) && !qobject_cast<QLabel*>(control)))
            continue;
        EXPECT_GE(control->width(), control->sizeHint().width()) << control->metaObject()->className();
    }
    EXPECT_LE(FormMain->RBtn1->geometry().right(), FormMain->RBtn2->x());
    EXPECT_LE(FormMain->RBtn2->geometry().right(), 695);
    EXPECT_EQ(FormMain->RBtn2->pos(), QPoint(637, 15));
    FormMain->BtnPauseClick();
    EXPECT_GE(FormMain->BtnPause->width(), FormMain->BtnPause->fontMetrics().horizontalAdvance("Resume") + 8);
}

} // namespace
