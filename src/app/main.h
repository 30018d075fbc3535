// Start-up and the main window: the control strip, the two clocks (the 100 ms
// form timer here, the 20 ms capture tick in main_ticks), the device watch,
// the first activation and the close sequence.
#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include <string>

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    // Control strip (positions in PanelControl pixels).
    QFrame* PanelControl = nullptr;
    QComboBox* CmbBoxAIn = nullptr;
    QLabel* LabAIndev = nullptr;
    QLabel* LabInOut = nullptr;
    QLabel* ImageMicro = nullptr;
    QLabel* ImageSpeaker = nullptr;
    QLabel* LabLevel = nullptr;
    QSlider* TrBarVolume = nullptr;
    QLabel* LabInpValue = nullptr;
    QRadioButton* RBtn12 = nullptr;
    QRadioButton* RBtn1 = nullptr;
    QRadioButton* RBtn2 = nullptr;
    QLabel* LabWindow = nullptr;
    QComboBox* CmbBoxWindow = nullptr;
    QPushButton* BtnPause = nullptr;
    QLabel* LabLost = nullptr; // lost audio since the device started; hidden while none
    QLabel* LabInfo = nullptr;
    QLabel* LabData = nullptr;
    QTimer* TimerInfo = nullptr;

    // Menu bar MainMenu1 (captions as shown, leading blanks included).
    QMenu* menuFile = nullptr;
    QAction* menuMediaFile = nullptr;
    QAction* menuExit = nullptr;
    QMenu* menuView = nullptr;
    QAction* menuWaveform = nullptr;
    QAction* menuWaveScales = nullptr;
    QAction* menuSpectrum = nullptr;
    QAction* menuSpectScales = nullptr;
    QAction* menuSpectTime = nullptr;
    QAction* menuSpectrogramRanges = nullptr;
    QAction* menuBands = nullptr;
    QAction* menuBandsScales = nullptr;
    QAction* menuLevels = nullptr;
    QAction* menuShowAll = nullptr;
    QAction* menuFilter = nullptr;
    QMenu* menuOptions = nullptr;
    QAction* menuGenerator = nullptr;
    QAction* menuDistortion = nullptr;
    QAction* menuResponse = nullptr;
    QAction* menuIsDark = nullptr;
    QAction* menuAIn = nullptr;
    QAction* menuPlaybackDevice = nullptr;
    QAction* menuMixer = nullptr;
    QAction* menuThickLines = nullptr;
    QMenu* menuHelp = nullptr;
    QAction* menuHelpContents = nullptr;
    QAction* menuAbout = nullptr;
    QFileDialog* OpenDialog1 = nullptr;

    // Combo index -> recording-device number (disabled devices are not listed).
    std::vector<int> ComboDevices;

public slots:
    void FormCreate();
    void TimerInfoTimer();
    void CmbBoxAInChange(int index);
    void TrBarVolumeChange(int position);
    void BtnPauseClick();
    void CmbBoxWindowChange(int index);
    void SetRestore();
    void RBtn12Click();
    void RBtn1Click();
    void RBtn2Click();
    void WaveSpectRenew();

    void menuFileClick();
    void menuViewClick();
    void menuOptionsClick();
    void menuHelpClick();
    void menuMediaFileClick();
    void menuExitClick();
    void menuWaveformClick();
    void menuWaveScalesClick();
    void menuSpectClick();
    void menuSpectScalesClick();
    void menuSpectTimeClick();
    void menuSpectrogramRangesClick();
    void menuBandsClick();
    void menuBandsScalesClick();
    void menuLevelsClick();
    void menuShowAllClick();
    void menuFilterClick();
    void menuGeneratorClick();
    void menuDistortionClick();
    void menuResponseClick();
    void menuIsDarkClick();
    void menuAInClick();
    void menuPlaybackDeviceClick();
    void menuMixerClick();
    void menuThickLinesClick();
    void menuHelpContentsClick();
    void menuAboutClick();

signals:
    // The main window was closed; the program ends.
    void Closed();

public:
    bool FormCloseQuery();
    void FormClose();
    void FormDestroy();

    void EnumDevices();
    void StartSource();
    void ArrangeViews();
    void UpdateCaption();
    void UpdateViewCaptions();
    // A failure of the recording library (platform/reclib.h): `text` with the
    // library's error code, unless the code is 0 and `always` is false.
    void ShowRecLibError(const std::string& text, bool always);
    // Messages posted from other threads (platform::PostMessageBox) are shown
    // on the UI thread while this is on.
    static void HandOverPostedMessages(bool on);
    // Repaints every shown view; UI thread.
    void RepaintShownViews();
    // The lost-audio label, shown while the started device has lost any.
    void ShowLostAudio();
    // Tells the user once when the capture stream ended on its own and the
    // device set did not change (a change starts a device again anyway).
    void TellWhenCaptureEnded();
    // A loopback stream was just started: give it time for its first block.
    void ExpectLoopbackStart() { ticksWithoutRead = -3; }
    // Space pauses and resumes while one of the views has the focus.
    void AddPauseKey(QWidget* view);
    // Runs that must leave the settings file alone (snapshots): no writes
    // while running, nor when the display goes.
    void KeepSettingsUnwritten();
    // The display went away: stops capture and writes the settings, without
    // a window or message box (there is no display for them). UI thread.
    void EndWithoutDisplay();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildControlStrip();
    void BuildMenus();
    void SelectComboDevice(int device);
    void ShowLoopbackControls(bool loopback);
    // The views' live geometry into the shared fields, once they are placed.
    void TakeLiveGeometry();
    class SettingsAutosave* autosave = nullptr;
    bool writesSettings = true;
    bool destroyed = false;
    // 100 ms ticks in a row without a loopback read; a loopback start sets it
    // below zero, for the time a new stream takes to deliver its first block.
    int ticksWithoutRead = 0;
    // 100 ms ticks the capture stream has been seen ended; -1 once told.
    int ticksEnded = 0;
};

inline TFormMain* FormMain = nullptr;

// What the views' captions end with while the sound server is gone.
inline constexpr const char* NoSoundServerCaption = " - No sound server!";

// Queues RepaintShownViews on the UI thread; any thread.
void PostRepaintShownViews();
// What the recording library said about its last failure, on a line of its
// own after a message's text; empty when it said nothing.
std::string ReasonAfter();

// Creates the forms in start-up order (main window first); a QApplication
// must exist. DestroyForms runs the main window's destroy step and frees them.
void CreateForms();
void DestroyForms();

// Starts the program: masks floating-point exceptions, creates the forms and
// runs the event loop. Returns the process exit code.
int RunSonalyx(int argc, char** argv);
