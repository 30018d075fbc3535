#include "app/main.h"

#include "about/about.h"
#include "analysis/spectrum.h"
#include "app/arrange.h"
#include "app/autosave.h"
#include "app/main_ticks.h"
#include "app/settings.h"
#include "app/snapshot.h"
#include "capture/WaveIn.h"
#include "capture/audiolib.h"
#include "desktop/messagebox.h"
#include "desktop/shell.h"
#include "desktop/termination.h"
#include "generator/Generator.h"
#include "meters/BandsForm.h"
#include "meters/DistortionForm.h"
#include "meters/LevelsForm.h"
#include "meters/ResponseForm.h"
#include "platform/dialogs.h"
#include "platform/reclib.h"
#include "platform/soundserver.h"
#include "platform/timer.h"
#include "platform/wavedev.h"
#include "playback/WaveOut.h"
#include "state/global.h"
#include "views/SpTmForm.h"
#include "views/SpectForm.h"
#include "views/WaveForm.h"
#include "views/pictures.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QLineEdit>
#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include <atomic>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace {

QFont StripFont()
{
    QFont font("Tahoma");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(12);
    return font;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y)
{
    auto* label = new QLabel(text, parent);
    label->move(x, y);
    label->adjustSize();
    return label;
}

// A radio button at its place, as wide as its caption needs where the
// given width is too small for the fonts at hand.
QRadioButton* MakeRadio(QWidget* parent, const QString& text, const QRect& place)
{
    auto* button = new QRadioButton(text, parent);
    QRect fitted = place;
    fitted.setWidth(std::max(place.width(), button->sizeHint().width()));
    fitted.setHeight(std::max(place.height(), button->sizeHint().height()));
    button->setGeometry(fitted);
    return button;
}

QFrame* MakeBevel(QWidget* parent, int x, int y, int h)
{
    auto* bevel = new QFrame(parent);
    bevel->setFrameShape(QFrame::VLine);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(x, y, 3, h);
    return bevel;
}

// Set while the event loop runs. When the X display goes away under the
// program, Qt's xcb platform ends it with exit() from inside the event loop:
// the static objects would be destroyed with the windows still open and the
// capture threads running, and the plot panels' shared OpenGL context,
// destroyed after Qt's own thread storage, ended in a segmentation fault.
std::atomic<bool> EventLoopRunning{false};

// Registered with atexit after the forms (and with them the statics their
// panels made) exist, so it runs before those destructors and ends the
// program without them. A normal end has cleared the flag.
void EndAfterLostDisplay()
{
    if (!EventLoopRunning.exchange(false))
        return;
    std::fprintf(stderr, "Sonalyx: the display has gone, the program ends\n");
    if (FormMain)
        FormMain->EndWithoutDisplay();
    std::fflush(nullptr);
    std::_Exit(1);
}

QtMessageHandler qtMessagesBefore = nullptr;

// Qt's X11 platform says that the connection broke and then calls exit().
// Ending here, before exit() begins, leaves nothing half destroyed: the
// exit handler alone runs after whatever the drivers registered later
// (libLLVM's statics for Mesa's software renderer among them) has already
// been destroyed under its running threads.
void EndOnLostDisplayWarning(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (qtMessagesBefore)
        qtMessagesBefore(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    if (type == QtWarningMsg && text.contains(QLatin1String("X11 connection broke")))
        EndAfterLostDisplay();
}

void MaskFloatingPointExceptions()
{
    // Faults yield infinities and NaNs instead of traps, in every thread
    // started afterwards too (threads inherit the control word).
    fedisableexcept(FE_ALL_EXCEPT);
#if defined(__x86_64__) || defined(__i386__)
    _mm_setcsr(_mm_getcsr() | 0x1F80); // all six SSE masks, denormal included
#endif
}

} // namespace

TFormMain::TFormMain(QWidget* parent) : QMainWindow(parent)
{
    FormMain = this;
    setWindowTitle("Sonalyx");
    BuildControlStrip();
    BuildMenus();
    TimerInfo = new QTimer(this);
    TimerInfo->setInterval(100);
    connect(TimerInfo, &QTimer::timeout, this, &TFormMain::TimerInfoTimer);
    HandOverPostedMessages(true);
    FormCreate();
}

TFormMain::~TFormMain()
{
    FormDestroy();
    HandOverPostedMessages(false);
    if (FormMain == this)
        FormMain = nullptr;
}

void TFormMain::BuildControlStrip()
{
    auto* client = new QWidget(this);
    setCentralWidget(client);
    PanelControl = new QFrame(client);
    PanelControl->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    PanelControl->setAutoFillBackground(true);
    QPalette pal = PanelControl->palette();
    pal.setColor(QPalette::Window, QColor(221, 222, 207));
    PanelControl->setPalette(pal);
    PanelControl->setFont(StripFont());
    PanelControl->setFixedHeight(49);
    auto* column = new QVBoxLayout(client); // the strip is top-aligned, full width
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(PanelControl);
    column->addStretch(1);

    QWidget* p = PanelControl;
    CmbBoxAIn = new QComboBox(p);
    CmbBoxAIn->setGeometry(13, 16, 281, 22);
    CmbBoxAIn->setToolTip("Recording Devices");
    CmbBoxAIn->setMaxVisibleItems(12);
    connect(CmbBoxAIn, &QComboBox::activated, this, &TFormMain::CmbBoxAInChange);
    LabAIndev = MakeLabel(p, " Audio Source:", 110, 2);
    LabInOut = MakeLabel(p, "", 200, 2);
    LabInOut->hide();
    MakeBevel(p, 300, 2, 45);
    ImageMicro = new QLabel(p);
    ImageMicro->setGeometry(306, 15, 24, 24);
    ImageMicro->setPixmap(MicrophonePicture());
    ImageSpeaker = new QLabel(p);
    ImageSpeaker->setGeometry(306, 15, 24, 24);
    ImageSpeaker->setPixmap(SpeakerPicture());
    ImageSpeaker->hide();
    LabLevel = MakeLabel(p, "Input Volume", 345, 2);
    TrBarVolume = new QSlider(Qt::Horizontal, p);
    TrBarVolume->setGeometry(323, 16, 164, 23);
    TrBarVolume->setRange(0, 100);
    TrBarVolume->setToolTip("Input Level");
    TrBarVolume->setTickPosition(QSlider::NoTicks);
    connect(TrBarVolume, &QSlider::valueChanged, this, &TFormMain::TrBarVolumeChange);
    LabInpValue = MakeLabel(p, "100%", 426, 2);
    MakeBevel(p, 495, 2, 45);
    RBtn12 = MakeRadio(p, "Left/Right", QRect(504, 12, 73, 27));
    RBtn12->setChecked(true);
    RBtn1 = MakeRadio(p, "Left", QRect(583, 17, 40, 17));
    RBtn2 = MakeRadio(p, "Right", QRect(637, 15, 44, 21));
    connect(RBtn12, &QRadioButton::clicked, this, &TFormMain::RBtn12Click);
    connect(RBtn1, &QRadioButton::clicked, this, &TFormMain::RBtn1Click);
    connect(RBtn2, &QRadioButton::clicked, this, &TFormMain::RBtn2Click);
    MakeBevel(p, 695, 2, 45);
    LabWindow = MakeLabel(p, "Window Function:", 711, 2);
    CmbBoxWindow = new QComboBox(p);
    CmbBoxWindow->setEditable(true);
    CmbBoxWindow->addItems({"Recrangular", "Hann", "Hamming"});
    CmbBoxWindow->setGeometry(711, 17, 95, 22);
    connect(CmbBoxWindow, &QComboBox::activated, this, &TFormMain::CmbBoxWindowChange);
    // Typing counts as a change; setting the item from the program does not.
    connect(CmbBoxWindow->lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString& text) { CmbBoxWindowChange(CmbBoxWindow->findText(text, Qt::MatchExactly)); });
    MakeBevel(p, 821, 1, 46);
    BtnPause = new QPushButton("Pause", p);
    BtnPause->setGeometry(844, 15, 65, 24);
    connect(BtnPause, &QPushButton::clicked, this, &TFormMain::BtnPauseClick);
    MakeBevel(p, 930, 2, 46);
    LabLost = MakeLabel(p, "", 944, 17);
    LabLost->setStyleSheet("color: #b00000;");
    LabLost->hide();
    LabInfo = MakeLabel(p, "", 1108, 9);
    LabInfo->hide();
    LabData = MakeLabel(p, "", 1108, 28);
    LabData->hide();
}

void TFormMain::FormCreate()
{
    // Restore from minimised is seen in changeEvent (SetRestore).
    ShowLeft = true;
    ShowRight = true;
    LineWidth = 1.0f;
    BinWidth = 10.7666f;
    SlicesPerBlock = 10;
    BlockLen = 4410;
    RegistryRead();
    if (!FitStoredGeometry(TViewForm::AvailableScreens()))
        IsInstalled = false; // the default layout at the first activation
    autosave = new SettingsAutosave([this] { TakeLiveGeometry(); }, this);
    ApplyColorScheme();
    CheckLibraryVersion();
    NumInDevs = platform::WaveInGetNumDevs();
    NumOutDevs = platform::WaveOutGetNumDevs();
    TimerInfo->start();
    Paused = false;
    EnumDevices();
    CmbBoxWindow->setCurrentIndex(WindowFunction);
    MMTimerID = platform::TimeSetEvent(20, CaptureTick, nullptr);
}

void TFormMain::TimerInfoTimer()
{
    LabData->setText(QString::number(LoopbackBytes.load()));
    UpdateViewCaptions();
    LoopbackBytes = NoReadMark;
    CurInDevs = platform::WaveInGetNumDevs();
    CurOutDevs = platform::WaveOutGetNumDevs();
    LabInfo->setText(QString("In=%1  Out=%2").arg(CurInDevs).arg(CurOutDevs));
    if (CurInDevs + CurOutDevs != NumInDevs + NumOutDevs) {
        NumInDevs = CurInDevs;
        NumOutDevs = CurOutDevs;
        EnumDevices();
        SelRecDev = DefaultRecDev;
        StartSource();
        platform::ShowMessage("The number of audio devices\rhas changed!");
    }
    ShowLostAudio();
    TellWhenCaptureEnded();
    if (!Loopback) {
        float volume = 0;
        if (platform::rec::RecordGetInput(0, &volume)) {
            TrBarVolume->setValue(static_cast<int>(std::nearbyint(volume * 100)));
            LabInpValue->setText(QString::number(TrBarVolume->value()) + "%");
        }
    }
    if (FormWave && !FormWave->FrameIntact())
        FormWave->DrawWaveFrame();
    if (FormSpect && !FormSpect->FrameIntact())
        FormSpect->DrawSpectFrame();
    if (FormSpTm && !FormSpTm->FrameIntact())
        FormSpTm->DrawSpTmFrame();
    if (FormBands && FormBands->isVisible() && !FormBands->FrameIntact())
        FormBands->DrawBandsFrame();
    if (FormLevels && FormLevels->isVisible() && !FormLevels->FrameIntact())
        FormLevels->DrawLevelsFrame();
    if (FormDistortion && FormDistortion->isVisible() && !FormDistortion->FrameIntact())
        FormDistortion->DrawDistortionFrame();
    if (FormResponse && FormResponse->isVisible() && !FormResponse->FrameIntact())
        FormResponse->DrawResponseFrame();
    if (Paused || Started)
        return;
    // First activation, one view per tick.
    if (WaveShow && FormWave && FormWave->isEnabled() && !FormWave->isVisible()) {
        FormWave->show();
        return;
    }
    if (SpectShow && FormSpect && FormSpect->isEnabled() && !FormSpect->isVisible()) {
        FormSpect->show();
        return;
    }
    if (SpTmShow && FormSpTm && FormSpTm->isEnabled() && !FormSpTm->isVisible())
        FormSpTm->show();
    // The octave view opens only when it was open last time; it is not part
    // of the default layout.
    if (BandsShow && FormBands && FormBands->isEnabled() && !FormBands->isVisible())
        FormBands->show();
    if (LevelsShow && FormLevels && FormLevels->isEnabled() && !FormLevels->isVisible())
        FormLevels->show();
    if (DistortionShow && FormDistortion && FormDistortion->isEnabled() && !FormDistortion->isVisible())
        FormDistortion->show();
    if (ResponseShow && FormResponse && FormResponse->isEnabled() && !FormResponse->isVisible())
        FormResponse->show();
    Started = true;
    if (!IsInstalled)
        for (int i = 0; i < 4; ++i)
            ArrangeViews();
    SelRecDev = PlaybackLoopDev;
    StartSource();
    if (CurInDevs > 0) {
        SelRecDev = DefaultRecDev;
        StartSource();
    }
}

void TFormMain::TakeLiveGeometry()
{
    if (!Started || isMinimized())
        return;
    IsInstalled = true; // the views have been placed, by the default layout or the user
    for (TViewForm* view :
         {static_cast<TViewForm*>(FormWave), static_cast<TViewForm*>(FormSpect), static_cast<TViewForm*>(FormSpTm),
          static_cast<TViewForm*>(FormBands), static_cast<TViewForm*>(FormLevels),
          static_cast<TViewForm*>(FormDistortion), static_cast<TViewForm*>(FormResponse)})
        if (view && view->isVisible())
            view->KeepGeometry();
}

void TFormMain::KeepSettingsUnwritten()
{
    writesSettings = false;
    autosave->Stop();
}

void TFormMain::EndWithoutDisplay()
{
    FormDestroy(); // no capture thread touches the shared state from here on
    if (!writesSettings)
        return;
    TakeLiveGeometry(); // the windows' last known geometry; asks nothing of the display
    if (const std::string failure = WriteSettings(); !failure.empty())
        std::fprintf(stderr, "Sonalyx: %s\n", failure.c_str());
}

void TFormMain::TrBarVolumeChange(int position)
{
    if (TrBarVolumeTag == 0)
        platform::rec::RecordSetInput(-1, 0, position / 100.0f);
    LabInpValue->setText(QString::number(position) + "%");
}

void TFormMain::BtnPauseClick()
{
    const bool pause = !Paused;
    Paused = pause;
    BtnPause->setText(pause ? "Resume" : "Pause");
}

void TFormMain::CmbBoxWindowChange(int index)
{
    WindowFunction = index;
    if (FormSpect)
        FormSpect->ResetInstruments(); // slices of two windows do not average
}

void TFormMain::SetRestore()
{
    if (WaveShow && FormWave)
        FormWave->DrawWaveFrame();
    if (SpectShow && FormSpect)
        FormSpect->DrawSpectFrame();
    if (SpTmShow && FormSpTm)
        FormSpTm->DrawSpTmFrame();
    if (BandsShow && FormBands)
        FormBands->DrawBandsFrame();
    if (LevelsShow && FormLevels)
        FormLevels->DrawLevelsFrame();
    if (DistortionShow && FormDistortion)
        FormDistortion->DrawDistortionFrame();
    if (ResponseShow && FormResponse)
        FormResponse->DrawResponseFrame();
}

void TFormMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if ((change->oldState() & Qt::WindowMinimized) && !(windowState() & Qt::WindowMinimized))
        SetRestore();
}

void TFormMain::ArrangeViews()
{
    const QWidget* client = centralWidget();
    const QScreen* screen = this->screen();
    const int clientScreenTop = client->mapToGlobal(QPoint(0, 0)).y() - screen->geometry().top();
    const ViewLayout layout = DefaultViewLayout(client->width(), client->height(), PanelControl->y(),
                                                PanelControl->height(), clientScreenTop);
    FormWave->SetOuterGeometry(layout.wave.x(), layout.wave.y(), layout.wave.width(), layout.wave.height());
    FormWave->FormCloseQuery(); // copies the resulting geometry into the shared fields
    const int spectTop = layout.wave.y() + FormWave->OuterGeometry().height();
    FormSpect->SetOuterGeometry(layout.spect.x(), spectTop, layout.spect.width(), layout.spect.height());
    FormSpect->FormCloseQuery();
    FormSpTm->SetOuterGeometry(layout.sptm.x(), layout.sptm.y(), layout.sptm.width(), layout.sptm.height());
    FormSpTm->FormCloseQuery();
    FormWave->show();
    FormSpect->show();
    FormSpTm->show();
    FormWave->DrawWaveFrame();
    FormSpect->DrawSpectFrame();
    FormSpTm->DrawSpTmFrame();
}

void TFormMain::UpdateCaption()
{
    setWindowTitle(QString::fromStdString("Sonalyx - " + DeviceName + "    " + MediaFile));
}

void TFormMain::UpdateViewCaptions()
{
    CaptionSuffix.clear();
    // Blocks arrive every 100 ms give or take the server's own period (PipeWire
    // delivers in steps of about 23 ms), so a single tick without one is no
    // sign yet: a device has stopped playing when two ticks in a row saw none
    // (a stream just started has a little longer, see ExpectLoopbackStart).
    ticksWithoutRead = Loopback && LoopbackBytes == NoReadMark ? ticksWithoutRead + 1 : 0;
    const bool stopped = ticksWithoutRead >= 2;
    if (stopped && Loopback)
        CaptionSuffix = " - Device has stopped playing!";
    if (!stopped && Loopback && !MediaFile.empty())
        CaptionSuffix = " - " + MediaFile;
    // Nothing arrives from any device while the server is gone, whichever
    // path captures; the views would otherwise just stand still.
    if (!platform::Server().connected())
        CaptionSuffix = NoSoundServerCaption;
    const QString suffix = QString::fromStdString(CaptionSuffix);
    if (FormWave)
        FormWave->setWindowTitle("Waveform" + suffix);
    if (FormSpect)
        FormSpect->setWindowTitle("Spectum" + suffix);
    if (FormSpTm)
        FormSpTm->setWindowTitle("Spectrogram" + suffix);
}

void TFormMain::ShowRecLibError(const std::string& text, bool always)
{
    const int code = platform::rec::ErrorGetCode();
    if (!always && code == 0)
        return;
    platform::MessageBox("Error", text + "\r\n\r\n(Error Code: " + std::to_string(code) + ")" + ReasonAfter(),
                         platform::MsgIcon::Warning);
}

void TFormMain::RepaintShownViews()
{
    if (WaveShow && FormWave)
        FormWave->InvRectWave();
    if (SpectShow && FormSpect)
        FormSpect->InvRectSpect();
    if (SpTmShow && FormSpTm)
        FormSpTm->InvRectSpTm();
    if (BandsShow && FormBands)
        FormBands->InvRectBands();
    if (LevelsShow && FormLevels)
        FormLevels->InvRectLevels();
}

void PostRepaintShownViews()
{
    if (TFormMain* main = FormMain)
        QMetaObject::invokeMethod(main, &TFormMain::RepaintShownViews, Qt::QueuedConnection);
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    FormCloseQuery();
    event->accept();
    FormClose();
    emit Closed();
}

bool TFormMain::FormCloseQuery()
{
    if (FormSpect)
        FormSpect->FormCloseQuery();
    if (FormSpTm)
        FormSpTm->FormCloseQuery();
    if (FormBands)
        FormBands->FormCloseQuery();
    if (FormLevels)
        FormLevels->FormCloseQuery();
    if (FormDistortion)
        FormDistortion->FormCloseQuery();
    if (FormResponse)
        FormResponse->FormCloseQuery();
    if (FormWave)
        FormWave->FormCloseQuery();
    IsInstalled = true;
    autosave->Stop();
    RegistryWrite();
    QApplication::processEvents();
    if (FormSpect)
        FormSpect->close();
    if (FormSpTm)
        FormSpTm->close();
    if (FormBands)
        FormBands->close();
    if (FormLevels)
        FormLevels->close();
    if (FormDistortion)
        FormDistortion->close();
    if (FormResponse)
        FormResponse->close();
    if (FormWave)
        FormWave->close();
    CloseWaveOut();
    WaveInClose();
    return true;
}

void TFormMain::FormClose()
{
    platform::rec::StreamFree(RecChannel);
    // The player that "Open Media File..." started names its window after the file.
    if (!MediaFile.empty())
        desktop::CloseWindowTitled(MediaFile);
}

void TFormMain::FormDestroy()
{
    if (destroyed)
        return;
    destroyed = true;
    platform::rec::ChannelStop(RecChannel);
    RecChannel = 0;
    platform::rec::RecordFree();
    platform::rec::Free();
    platform::TimeKillEvent(MMTimerID);
    MMTimerID = 0;
    TimerInfo->stop();
}

void CreateForms()
{
    desktop::InstallMessageBoxes();
    new TFormMain;
    FormWave = new TFormWave;
    FormSpect = new TFormSpect;
    FormSpTm = new TFormSpTm;
    FormBands = new TFormBands;
    FormLevels = new TFormLevels;
    FormDistortion = new TFormDistortion;
    FormResponse = new TFormResponse;
    FormAbout = new TFormAbout(FormMain);
    FGenerator = new TFGenerator;
    // What the views showed came from the old device.
    QObject::connect(FGenerator, &TFGenerator::OutputDeviceChanged, FGenerator, [] { ClearBlock(); });
    for (QWidget* view :
         {static_cast<QWidget*>(FormWave), static_cast<QWidget*>(FormSpect), static_cast<QWidget*>(FormSpTm),
          static_cast<QWidget*>(FormBands), static_cast<QWidget*>(FormLevels), static_cast<QWidget*>(FormDistortion),
          static_cast<QWidget*>(FormResponse)})
        FormMain->AddPauseKey(view);
}

void DestroyForms()
{
    if (FormMain)
        FormMain->FormDestroy();
    delete FormWave;
    FormWave = nullptr;
    delete FormSpect;
    FormSpect = nullptr;
    delete FormSpTm;
    FormSpTm = nullptr;
    delete FormBands;
    FormBands = nullptr;
    delete FormLevels;
    FormLevels = nullptr;
    delete FormDistortion; // stops its tone, through the generator still there
    FormDistortion = nullptr;
    delete FormResponse; // stops a measurement, through the generator still there
    FormResponse = nullptr;
    CloseWaveOut(); // done by the close sequence already, unless a test skipped it
    GenPlaying = false;
    delete FGenerator;
    FGenerator = nullptr;
    delete FormAbout;
    FormAbout = nullptr;
    delete FormMain;
}

namespace {
std::vector<std::string> ArgumentsOf(const QCoreApplication& app)
{
    std::vector<std::string> args;
    for (const QString& arg : app.arguments())
        args.push_back(arg.toStdString());
    return args;
}
} // namespace

int RunSonalyx(int argc, char** argv)
{
    MaskFloatingPointExceptions();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Sonalyx");
    QApplication::setOrganizationName("Vortan");
    // Lets a desktop match the windows to the installed launcher and icon.
    QGuiApplication::setDesktopFileName("org.sonalyx.Sonalyx");
    QApplication::setWindowIcon(QIcon::fromTheme("org.sonalyx.Sonalyx"));
    std::string wrongArguments;
    const std::optional<SnapshotRequest> snapshot = SnapshotArguments(ArgumentsOf(app), &wrongArguments);
    if (!wrongArguments.empty()) {
        std::fprintf(stderr, "Sonalyx: %s\nusage: sonalyx [--snapshot DIR --after SECONDS]\n", wrongArguments.c_str());
        return 2;
    }
    CreateForms();
    if (snapshot) {
        PrintMessagesInstead();
        ScheduleSnapshot(*snapshot);
        FormMain->KeepSettingsUnwritten();
    }
    desktop::CloseOnTerminationSignals(FormMain);
    QObject::connect(FormMain, &TFormMain::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // Without a window manager "maximised" means nothing: fill the screen.
    FormMain->setGeometry(QApplication::primaryScreen()->availableGeometry());
    FormMain->showMaximized();
    std::atexit(EndAfterLostDisplay);
    qtMessagesBefore = qInstallMessageHandler(EndOnLostDisplayWarning);
    EventLoopRunning = true;
    const int code = app.exec();
    EventLoopRunning = false;
    DestroyForms();
    return code;
}
