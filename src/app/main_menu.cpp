// The main window's menu bar and the handlers of its items, and the channel
// choice of the control strip.
#include "about/about.h"
#include "analysis/spectrum.h"
#include "app/helpfiles.h"
#include "app/main.h"
#include "app/main_ticks.h"
#include "desktop/shell.h"
#include "generator/Generator.h"
#include "meters/BandsForm.h"
#include "meters/DistortionForm.h"
#include "meters/LevelsForm.h"
#include "meters/ResponseForm.h"
#include "platform/dialogs.h"
#include "state/global.h"
#include "views/SpTmForm.h"
#include "views/SpectForm.h"
#include "views/WaveForm.h"

#include <QApplication>
#include <QMenuBar>

#include <functional>
#include <mutex>

#ifndef SONALYX_DOC_DIR
#define SONALYX_DOC_DIR ""
#endif

namespace {

const char* const NoPlaybackDevice = "Enable any playback device!";

QAction* AddItem(QMenu* menu, const QString& caption, QObject* receiver, void (TFormMain::*handler)(),
                 const QKeySequence& shortcut = {})
{
    QAction* item = menu->addAction(caption);
    if (!shortcut.isEmpty()) {
        item->setShortcut(shortcut);
        item->setShortcutContext(Qt::ApplicationShortcut); // from the views too
    }
    QObject::connect(item, &QAction::triggered, static_cast<TFormMain*>(receiver), handler);
    return item;
}

QAction* AddCheckItem(QMenu* menu, const QString& caption, QObject* receiver, void (TFormMain::*handler)())
{
    QAction* item = AddItem(menu, caption, receiver, handler);
    item->setCheckable(true);
    return item;
}

// Shows a view that is closed, or closes one that is shown.
template <class View>
void ToggleView(View* view, bool shown, void (View::*drawFrame)())
{
    if (shown) {
        view->close(); // its close handler clears the show flag
        return;
    }
    view->show(); // its show handler raises the flag and restores the geometry
    (view->*drawFrame)();
}

void ToggleScalePanel(QWidget* panel, const std::function<void()>& show)
{
    if (panel->isHidden())
        show();
    else
        panel->hide();
}

std::string NoApplicationFor(const std::string& file)
{
    return "No application to open \"" + file +
           "\" was found. Install xdg-utils (xdg-open) and set a "
           "default application for such files.";
}

void SoundSettings(desktop::SoundSettingsPage page)
{
    std::string why;
    if (!desktop::OpenSoundSettings(page, &why))
        platform::ShowMessage(why);
}

} // namespace

void TFormMain::BuildMenus()
{
    QMenuBar* MainMenu1 = menuBar();
    menuFile = MainMenu1->addMenu("File");
    connect(menuFile, &QMenu::aboutToShow, this, &TFormMain::menuFileClick);
    menuMediaFile = AddItem(menuFile, "Open Media File...", this, &TFormMain::menuMediaFileClick, QKeySequence::Open);
    menuExit = AddItem(menuFile, "Exit", this, &TFormMain::menuExitClick, QKeySequence(Qt::CTRL | Qt::Key_Q));

    menuView = MainMenu1->addMenu("View");
    connect(menuView, &QMenu::aboutToShow, this, &TFormMain::menuViewClick);
    menuWaveform = AddCheckItem(menuView, "Waveform", this, &TFormMain::menuWaveformClick);
    menuWaveScales = AddItem(menuView, "   - Waveform Scales", this, &TFormMain::menuWaveScalesClick);
    menuSpectrum = AddCheckItem(menuView, "Spectrum", this, &TFormMain::menuSpectClick);
    menuSpectScales = AddItem(menuView, "     - Spectrum Scales", this, &TFormMain::menuSpectScalesClick);
    menuSpectTime = AddCheckItem(menuView, "Spectrogram", this, &TFormMain::menuSpectTimeClick);
    menuSpectrogramRanges = AddItem(menuView, "    - Spectrogram Scale", this, &TFormMain::menuSpectrogramRangesClick);
    menuBands = AddCheckItem(menuView, "Octave Bands", this, &TFormMain::menuBandsClick);
    menuBandsScales = AddItem(menuView, "    - Octave Bands Scales", this, &TFormMain::menuBandsScalesClick);
    menuLevels = AddCheckItem(menuView, "Levels", this, &TFormMain::menuLevelsClick);
    menuView->addSeparator();
    menuShowAll = AddItem(menuView, "Show and Arrange All Windows", this, &TFormMain::menuShowAllClick);
    menuView->addSeparator();
    menuFilter = AddItem(menuView, "Filter...", this, &TFormMain::menuFilterClick);
    menuFilter->setVisible(false);

    menuOptions = MainMenu1->addMenu("Options");
    connect(menuOptions, &QMenu::aboutToShow, this, &TFormMain::menuOptionsClick);
    menuGenerator = AddItem(menuOptions, "Generator", this, &TFormMain::menuGeneratorClick);
    menuDistortion = AddItem(menuOptions, "Distortion Analyzer...", this, &TFormMain::menuDistortionClick);
    menuResponse = AddItem(menuOptions, "Frequency Response...", this, &TFormMain::menuResponseClick);
    menuOptions->addSeparator();
    menuIsDark = AddCheckItem(menuOptions, "Dark Color Scheme", this, &TFormMain::menuIsDarkClick);
    menuOptions->addSeparator();
    menuAIn = AddItem(menuOptions, "Recording Device...", this, &TFormMain::menuAInClick);
    menuPlaybackDevice = AddItem(menuOptions, "Playback Device...", this, &TFormMain::menuPlaybackDeviceClick);
    menuMixer = AddItem(menuOptions, "Sound Volume Mixer...", this, &TFormMain::menuMixerClick);
    menuOptions->addSeparator();
    menuThickLines = AddCheckItem(menuOptions, "Thick Lines", this, &TFormMain::menuThickLinesClick);
    menuThickLines->setVisible(false);

    menuHelp = MainMenu1->addMenu("Help");
    connect(menuHelp, &QMenu::aboutToShow, this, &TFormMain::menuHelpClick);
    menuHelpContents = AddItem(menuHelp, "Help Contents", this, &TFormMain::menuHelpContentsClick,
                               QKeySequence(Qt::Key_F1));
    menuHelp->addSeparator();
    menuAbout = AddItem(menuHelp, "About", this, &TFormMain::menuAboutClick);

    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
}

void TFormMain::AddPauseKey(QWidget* view)
{
    auto* pause = new QAction(view);
    pause->setShortcut(Qt::Key_Space);
    pause->setShortcutContext(Qt::WindowShortcut);
    view->addAction(pause);
    connect(pause, &QAction::triggered, this, &TFormMain::BtnPauseClick);
}

// ---- File ------------------------------------------------------------------

void TFormMain::menuFileClick() {}

void TFormMain::menuMediaFileClick()
{
    if (PlaybackLoopDev == -1) {
        platform::ShowMessage(NoPlaybackDevice);
        return;
    }
    if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty())
        return;
    MediaFile = OpenDialog1->selectedFiles().front().toStdString();
    SelRecDev = PlaybackLoopDev;
    if (RecChannel != 0)
        RecChannel = 1; // given up; the channel ends when the device is freed
    StartSource();
    Loopback = true;
    ImageMicro->hide();
    ImageSpeaker->show();
    UpdateCaption();
    ClearBlock();
    QApplication::processEvents();
    // The desktop's player; once started, its outcome is its own.
    if (!desktop::OpenDocument(MediaFile))
        platform::ShowMessage(NoApplicationFor(MediaFile));
}

void TFormMain::menuExitClick()
{
    close();
}

// ---- View ------------------------------------------------------------------

void TFormMain::menuViewClick()
{
    menuWaveform->setChecked(WaveShow);
    menuWaveScales->setEnabled(WaveShow);
    menuSpectrum->setChecked(SpectShow);
    menuSpectScales->setEnabled(SpectShow);
    menuSpectTime->setChecked(SpTmShow);
    menuSpectrogramRanges->setEnabled(SpTmShow);
    menuBands->setChecked(BandsShow);
    menuBandsScales->setEnabled(BandsShow);
    menuLevels->setChecked(LevelsShow);
}

void TFormMain::menuWaveformClick()
{
    ToggleView(FormWave, WaveShow, &TFormWave::DrawWaveFrame);
}

void TFormMain::menuSpectClick()
{
    ToggleView(FormSpect, SpectShow, &TFormSpect::DrawSpectFrame);
}

void TFormMain::menuSpectTimeClick()
{
    ToggleView(FormSpTm, SpTmShow, &TFormSpTm::DrawSpTmFrame);
}

void TFormMain::menuWaveScalesClick()
{
    ToggleScalePanel(FormWave->PanelWaveSnd, [] { FormWave->WaveScalesShow(); });
}

void TFormMain::menuSpectScalesClick()
{
    ToggleScalePanel(FormSpect->PanelSpectScale, [] { FormSpect->SpectScalesShow(); });
}

void TFormMain::menuSpectrogramRangesClick()
{
    ToggleScalePanel(FormSpTm->PanelGain, [] { FormSpTm->SpTmRangesShow(); });
}

void TFormMain::menuBandsClick()
{
    ToggleView(FormBands, BandsShow, &TFormBands::DrawBandsFrame);
}

void TFormMain::menuBandsScalesClick()
{
    ToggleScalePanel(FormBands->PanelBandsScale, [] { FormBands->BandsScalesShow(); });
}

void TFormMain::menuLevelsClick()
{
    ToggleView(FormLevels, LevelsShow, &TFormLevels::DrawLevelsFrame);
}

// The three views, arranged as ever; the octave and levels views stay where they are.
void TFormMain::menuShowAllClick()
{
    WaveShow = true;
    SpectShow = true;
    SpTmShow = true;
    for (int i = 0; i < 4; ++i)
        ArrangeViews();
}

void TFormMain::menuFilterClick() {}

// ---- Options ---------------------------------------------------------------

void TFormMain::menuOptionsClick()
{
    menuThickLines->setChecked(ThickLines);
    menuIsDark->setChecked(!LightBackground);
}

void TFormMain::menuGeneratorClick()
{
    if (PlaybackLoopDev == -1) {
        platform::ShowMessage(NoPlaybackDevice);
        return;
    }
    const QPoint stripEnd = PanelControl->mapToGlobal(PanelControl->rect().bottomRight());
    FGenerator->OpenClearOf(QRect(frameGeometry().topLeft(), QPoint(frameGeometry().right(), stripEnd.y())));
}

void TFormMain::menuDistortionClick()
{
    FormDistortion->show();
    FormDistortion->raise();
    FormDistortion->activateWindow();
}

void TFormMain::menuResponseClick()
{
    FormResponse->show();
    FormResponse->raise();
    FormResponse->activateWindow();
}

void TFormMain::menuIsDarkClick()
{
    LightBackground = !LightBackground;
    ApplyColorScheme();
    FormWave->DrawWaveFrame();
    FormSpect->DrawSpectFrame();
    FormSpTm->DrawSpTmFrame();
    if (FormDistortion && FormDistortion->isVisible())
        FormDistortion->InvRectDistortion();
    if (FormResponse && FormResponse->isVisible())
        FormResponse->InvRectResponse();
    ClearBlock(); // the views start again in the new colours
}

void TFormMain::menuAInClick()
{
    SoundSettings(desktop::SoundSettingsPage::RecordingDevices);
}

void TFormMain::menuPlaybackDeviceClick()
{
    SoundSettings(desktop::SoundSettingsPage::PlaybackDevices);
}

void TFormMain::menuMixerClick()
{
    SoundSettings(desktop::SoundSettingsPage::VolumeMixer);
}

void TFormMain::menuThickLinesClick()
{
    ThickLines = !ThickLines;
}

// ---- Help ------------------------------------------------------------------

void TFormMain::menuHelpClick() {}

void TFormMain::menuHelpContentsClick()
{
    QApplication::processEvents();
    const std::string program = QCoreApplication::applicationFilePath().toStdString();
    const std::string helpFile = HelpFileBeside(program);
    if (!FirstExisting({helpFile}).empty()) {
        desktop::OpenDocument(helpFile);
        return;
    }
    // Without a help file beside the program, its own manual is the help.
    const std::vector<std::string> manuals = ManualCandidates(program, SONALYX_DOC_DIR);
    const std::string manual = FirstExisting(manuals);
    if (!manual.empty()) {
        if (!desktop::OpenDocument(manual))
            platform::ShowMessage(NoApplicationFor(manual));
        return;
    }
    std::string places = helpFile;
    for (const std::string& candidate : manuals)
        places += "\n" + candidate;
    platform::MessageBox("Sonalyx", "No help was found. Looked for:\n" + places, platform::MsgIcon::Information);
}

void TFormMain::menuAboutClick()
{
    FormAbout->exec();
}

// ---- control strip: channels -------------------------------------------------

void TFormMain::RBtn12Click()
{
    ShowLeft = true;
    ShowRight = true;
    WaveSpectRenew();
}

void TFormMain::RBtn1Click()
{
    ShowLeft = true;
    ShowRight = false;
    WaveSpectRenew();
}

void TFormMain::RBtn2Click()
{
    ShowLeft = false;
    ShowRight = true;
    WaveSpectRenew();
}

void TFormMain::WaveSpectRenew()
{
    FormSpect->ResetInstruments();
    {
        // Also while paused: the newest spectrum is taken again from the stored samples.
        std::lock_guard<std::mutex> guard(DataLock);
        AnalyseSlice(1, 0);
        AnalyseSlice(2, 0);
    }
    if (WaveShow)
        FormWave->InvRectWave();
    if (SpectShow)
        FormSpect->InvRectSpect();
    FormSpTm->DrawSpTmFrame(); // its captions depend on the channels shown
}
