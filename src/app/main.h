// Start-up and the main window: the control strip, the two clocks (the 100 ms
// form timer here, the 20 ms capture tick in main_ticks), the device watch,
// the first activation and the close sequence.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMainWindow>
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
    QLabel* LabInfo = nullptr;
    QLabel* LabData = nullptr;
    QTimer* TimerInfo = nullptr;

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
    void ShowBassError(const std::string& text, bool always);
    // Repaints every shown view; UI thread.
    void RepaintShownViews();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildControlStrip();
    void SelectComboDevice(int device);
    void ShowLoopbackControls(bool loopback);
    bool destroyed = false;
};

inline TFormMain* FormMain = nullptr;

// Queues RepaintShownViews on the UI thread; any thread.
void PostRepaintShownViews();

// Creates the forms in start-up order (main window first); a QApplication
// must exist. DestroyForms runs the main window's destroy step and frees them.
void CreateForms();
void DestroyForms();

// Starts the program: masks floating-point exceptions, creates the forms and
// runs the event loop. Returns the process exit code.
int RunSonalyx(int argc, char** argv);
