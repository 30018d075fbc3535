#include "generator/Generator.h"

#include "generator/FreqScale.h"
#include "platform/dialogs.h"
#include "platform/wavedev.h"
#include "playback/WaveOut.h"
#include "state/global.h"
#include "views/framepaint.h"
#include "views/pictures.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>

#include <algorithm>

namespace {

QFont TahomaFont(int pixelHeight, bool bold = false, bool underline = false)
{
    QFont font = FrameFont("Tahoma", pixelHeight);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

void SetBackground(QWidget* widget, const QColor& colour)
{
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Base, colour);
    widget->setPalette(palette);
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y, const QFont& font)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->adjustSize();
    label->move(x, y);
    return label;
}

QLabel* MakeImage(QWidget* parent, const QPixmap& picture, int x, int y, const QString& hint)
{
    auto* image = new QLabel(parent);
    image->setPixmap(picture);
    image->setGeometry(x, y, picture.width(), picture.height());
    image->setToolTip(hint);
    return image;
}

// Keys that reach a frequency edit: digits and Backspace, and the keys that
// type no character (arrows, Delete, Home, End) or move the focus.
bool FrequencyKeyPasses(const QKeyEvent* key)
{
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab || key->key() == Qt::Key_Delete)
        return true;
    const QString text = key->text();
    if (text.isEmpty())
        return true;
    const QChar c = text.at(0);
    return text.size() == 1 && (c == QChar('\b') || (c >= QChar('0') && c <= QChar('9')));
}

} // namespace

TFGenerator::TFGenerator(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Generator");
    setFont(TahomaFont(11));
    setFixedSize(GeneratorWidth, GeneratorHeight);
    BuildControls();
    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &TFGenerator::Timer1Timer);
    FormCreate();
    ApplyStoredSignal();
}

void TFGenerator::BuildControls()
{
    PanelGenerator = new QFrame(this);
    PanelGenerator->setGeometry(0, 0, GeneratorWidth, GeneratorHeight);
    PanelGenerator->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    PanelGenerator->setLineWidth(2);
    SetBackground(PanelGenerator, QColor(227, 219, 213));
    QWidget* p = PanelGenerator;

    LabGenerator = MakeLabel(p, "Generator", 108, 6, TahomaFont(12, true, true));
    BuildSignalChoice();

    // Everything below the signal choice sits lower by the row it grew.
    constexpr int d = SignalRowHeight;
    LabEditFr1 = BuildFrequencyEdit("Sine Frequency  (Left),  Hz ", 50 + d, QColor(255, 226, 128), &LabEditFr1Label);
    TrBarFr1 = BuildFrequencyTrack("Sine Frequency  (Left)", 6, 70 + d);
    LabEditFr2 = BuildFrequencyEdit("Sine Frequency (Right), Hz ", 110 + d, QColor(174, 255, 174), &LabEditFr2Label);
    TrBarFr2 = BuildFrequencyTrack("Sine Frequency  (Right) ", 5, 130 + d);
    connect(LabEditFr1, &QLineEdit::textChanged, this, &TFGenerator::LabEditFr1Change);
    connect(LabEditFr2, &QLineEdit::textChanged, this, &TFGenerator::LabEditFr2Change);
    connect(TrBarFr1, &QSlider::valueChanged, this, &TFGenerator::TrBarFr1Change);
    connect(TrBarFr2, &QSlider::valueChanged, this, &TFGenerator::TrBarFr2Change);

    LabWOutDevices = MakeLabel(p, "Playback Device", 89, 160 + d, font());
    CmbBoxAOut = new QComboBox(p);
    CmbBoxAOut->setEditable(true);
    CmbBoxAOut->setInsertPolicy(QComboBox::NoInsert);
    CmbBoxAOut->setGeometry(14, 180 + d, 173, 21);
    CmbBoxAOut->setToolTip("Playback Device");
    connect(CmbBoxAOut, &QComboBox::activated, this, &TFGenerator::CmbBoxAOutChange);
    // Typing counts as a change: a text that names no device gives -1.
    connect(CmbBoxAOut->lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString& text) { CmbBoxAOutChange(CmbBoxAOut->findText(text, Qt::MatchExactly)); });
    ImageOFF = MakeImage(p, StatusLampPicture(false), 193, 180 + d, "Playback Device Status");
    ImageON = MakeImage(p, StatusLampPicture(true), 193, 180 + d, "Playback Device Status");
    ImageON->hide();
    BtnWOutOpen = new QPushButton("Open", p);
    BtnWOutOpen->setGeometry(221, 178 + d, 65, 25);
    BtnWOutOpen->setToolTip("Open/Close Playback Device");
    connect(BtnWOutOpen, &QPushButton::clicked, this, &TFGenerator::BtnWOutOpenClick);

    LabVolume = MakeLabel(p, "Output Volume", 57, 204 + d, TahomaFont(13));
    TrBarVolume = new QSlider(Qt::Horizontal, p);
    TrBarVolume->setGeometry(21, 220 + d, 164, 29);
    TrBarVolume->setRange(0, 65535);
    TrBarVolume->setPageStep(6554);
    TrBarVolume->setToolTip("Output Volume");
    connect(TrBarVolume, &QSlider::valueChanged, this, &TFGenerator::TrBarVolumeChange);
    ImageOutput = MakeImage(p, SpeakerPicture(), 236, 228 + d, "");
    LabGetVolume = MakeLabel(p, "100%", 193, 233 + d, TahomaFont(13));
    LabUnderruns = MakeLabel(p, "", 14, 249 + d, TahomaFont(11));
    LabUnderruns->setStyleSheet("color: #b00000;");
    LabUnderruns->hide();
    LabInUse = MakeLabel(p, "", 14, 249 + d, TahomaFont(11, true));
    LabInUse->setStyleSheet("color: #0000b0;");
    LabInUse->hide();
}

void TFGenerator::Hold(const QString& by)
{
    if (!held)
        openBeforeHold = WaveOutIsOpen;
    held = true;
    if (WaveOutIsOpen) {
        CloseWaveOut();
        ShowDeviceOpen(false);
    }
    for (QWidget* child : PanelGenerator->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child != LabInUse && child != LabGenerator)
            child->setEnabled(false);
    LabInUse->setText("In use by the " + by);
    LabInUse->adjustSize();
    LabInUse->raise();
    LabInUse->show();
    LabUnderruns->hide();
}

void TFGenerator::Release()
{
    if (!held)
        return;
    held = false;
    LabInUse->hide();
    for (QWidget* child : PanelGenerator->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        child->setEnabled(true);
    // Noise has no frequencies to set.
    SetFreqControlsEnabled(RBtnSine->isChecked());
    // The devices may have changed meanwhile: the list as it is now, said
    // once by whoever held the engine.
    GenDeviceCount = platform::WaveOutGetNumDevs();
    FillDeviceBox();
    if (openBeforeHold)
        OpenDevice(GenDeviceIndex);
    openBeforeHold = false;
}

void TFGenerator::BuildSignalChoice()
{
    // Sine and White Noise on the first row as they always were, Pink Noise
    // on a second row under White Noise.
    GrBoxGenerator = new QGroupBox(PanelGenerator);
    GrBoxGenerator->setGeometry(15, 20, 266, 29 + SignalRowHeight);
    SetBackground(GrBoxGenerator, QColor(220, 211, 203));
    auto addChoice = [this](const QString& text, int x, int row) {
        auto* button = new QRadioButton(text, GrBoxGenerator);
        button->setFont(TahomaFont(13, false, true));
        button->adjustSize();
        button->move(x, (29 - button->height()) / 2 + row * SignalRowHeight);
        return button;
    };
    RBtnSine = addChoice("Sine", 24, 0);
    RBtnSine->setChecked(true);
    RBtnWhiteNoise = addChoice("White Noise", 140, 0);
    RBtnPinkNoise = addChoice("Pink Noise", 140, 1);
    connect(RBtnSine, &QRadioButton::clicked, this, &TFGenerator::RBtnSineClick);
    connect(RBtnWhiteNoise, &QRadioButton::clicked, this, &TFGenerator::RBtnWhiteNoiseClick);
    connect(RBtnPinkNoise, &QRadioButton::clicked, this, &TFGenerator::RBtnPinkNoiseClick);
}

void TFGenerator::ShowUnderruns()
{
    const QString text = QString::fromStdString(UnderrunText(GenUnderruns));
    if (text == LabUnderruns->text() && LabUnderruns->isVisible() == !text.isEmpty())
        return;
    LabUnderruns->setText(text);
    LabUnderruns->adjustSize();
    LabUnderruns->setVisible(!text.isEmpty());
}

QLineEdit* TFGenerator::BuildFrequencyEdit(const QString& label, int y, const QColor& colour, QLabel** labelOut)
{
    auto* edit = new QLineEdit("10", PanelGenerator);
    edit->setFont(TahomaFont(15));
    edit->setGeometry(204, y, 48, 23);
    SetBackground(edit, colour);
    edit->installEventFilter(this);
    // The caption sits to the left of the edit, three pixels apart, centred on it.
    QLabel* caption = MakeLabel(PanelGenerator, label, 0, 0, TahomaFont(13));
    caption->move(edit->x() - 3 - caption->width(), y + (edit->height() - caption->height()) / 2);
    caption->setBuddy(edit);
    *labelOut = caption;
    return edit;
}

QSlider* TFGenerator::BuildFrequencyTrack(const QString& hint, int x, int y)
{
    auto* track = new QSlider(Qt::Horizontal, PanelGenerator);
    track->setGeometry(x, y, 275, 25);
    track->setRange(gen::FreqTrackMin, gen::FreqTrackMax);
    track->setValue(gen::FreqTrackMin);
    track->setTickPosition(QSlider::NoTicks);
    track->setToolTip(hint);
    return track;
}

void TFGenerator::FormCreate()
{
    FreqLeft = 20;
    FreqRight = 50;
}

QPoint GeneratorPlace(const QRect& keepClear, const QSize& outer, const QRect& screen)
{
    const int x = std::clamp(keepClear.right() + 1 - outer.width(), screen.left(),
                             std::max(screen.left(), screen.right() + 1 - outer.width()));
    const int y = std::clamp(keepClear.bottom() + 1, screen.top(),
                             std::max(screen.top(), screen.bottom() + 1 - outer.height()));
    return {x, y};
}

void TFGenerator::OpenClearOf(const QRect& keepClear)
{
    if (!placed) {
        const QScreen* screen = QGuiApplication::screenAt(keepClear.center());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        // Before the first show there is no frame yet: the desktop's frame,
        // where it adds one, goes on top of the client size.
        move(GeneratorPlace(keepClear, frameGeometry().size(), screen->availableGeometry()));
        placed = true;
    }
    show();
    raise();
}

void TFGenerator::FormShow()
{
    GenPlaying = true;
    GenSine = true;
    GenDeviceCount = platform::WaveOutGetNumDevs();
    FillDeviceBox();
    if (GenDeviceCount > 0) {
        CmbBoxAOut->setCurrentIndex(0);
        GenDeviceIndex = 0;
    }
    Timer1->start();
}

bool TFGenerator::FormCloseQuery()
{
    if (held) // the engine plays for another window; it closes the device
        return true;
    CloseWaveOut();
    ShowDeviceOpen(false);
    GenPlaying = false;
    return true;
}

void TFGenerator::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) // a restore from minimised is no new show
        FormShow();
}

void TFGenerator::closeEvent(QCloseEvent* event)
{
    FormCloseQuery();
    event->accept(); // hidden, not freed; Timer1 keeps running
}

void TFGenerator::ShowDeviceOpen(bool open)
{
    BtnWOutOpen->setText(open ? "Close" : "Open");
    ImageON->setVisible(open);
    ImageOFF->setVisible(!open);
}

void TFGenerator::OpenDevice(int deviceId)
{
    std::string error;
    if (!OpenWaveOut(deviceId, &error)) {
        ShowDeviceOpen(false);
        platform::ShowMessage(error);
        return;
    }
    ShowDeviceOpen(true);
    // A volume the server cannot give yet comes with the next tick.
    if (const std::optional<uint32_t> volume = GetOutVolume())
        ShowOutVolume(*volume);
}

void TFGenerator::BtnWOutOpenClick()
{
    if (WaveOutIsOpen) {
        CloseWaveOut();
        ShowDeviceOpen(false);
        return;
    }
    OpenDevice(GenDeviceIndex);
}

void TFGenerator::CmbBoxAOutChange(int index)
{
    GenDeviceIndex = index;
    if (WaveOutIsOpen) {
        CloseWaveOut();
        QApplication::processEvents();
        OpenDevice(GenDeviceIndex);
    }
    emit OutputDeviceChanged();
}

void TFGenerator::SetFreqControlsEnabled(bool enabled)
{
    for (QWidget* control : {static_cast<QWidget*>(LabEditFr1), static_cast<QWidget*>(LabEditFr2),
                             static_cast<QWidget*>(TrBarFr1), static_cast<QWidget*>(TrBarFr2)})
        control->setEnabled(enabled);
}

void TFGenerator::RBtnSineClick()
{
    if (!RBtnSine->isChecked())
        return;
    SetFreqControlsEnabled(true);
    GenSine = true;
    GenNoise = false;
    GenPink = false;
    GenSignal = GenSignalSine;
}

void TFGenerator::RBtnWhiteNoiseClick()
{
    if (!RBtnWhiteNoise->isChecked())
        return;
    SetFreqControlsEnabled(false);
    GenSine = false;
    GenNoise = true;
    GenPink = false;
    GenSignal = GenSignalWhiteNoise;
}

void TFGenerator::RBtnPinkNoiseClick()
{
    if (!RBtnPinkNoise->isChecked())
        return;
    SetFreqControlsEnabled(false);
    GenSine = false;
    GenNoise = false;
    GenPink = true;
    GenSignal = GenSignalPinkNoise;
}

void TFGenerator::ApplyStoredSignal()
{
    // A stored sine is the start as it always was: nothing to do until the
    // first show sets the sine flag. A stored noise is chosen as its button
    // would choose it; the sine flag the show sets is written over.
    if (GenSignal == GenSignalWhiteNoise) {
        RBtnWhiteNoise->setChecked(true);
        RBtnWhiteNoiseClick();
    } else if (GenSignal == GenSignalPinkNoise) {
        RBtnPinkNoise->setChecked(true);
        RBtnPinkNoiseClick();
    }
}

void TFGenerator::FrequencyEditChange(QLineEdit* edit, std::atomic<float>& frequency, QSlider* track)
{
    FreqEditing = true;
    if (edit->text().isEmpty())
        edit->setText("0"); // runs this handler once more, for "0"
    const std::string text = edit->text().toStdString();
    const std::optional<int32_t> value = gen::ParseFrequency(text);
    if (!value) {
        // Only pasting gets here; the frequency stays, the next tick restores the text.
        FreqEditing = false;
        platform::MessageBox("Sonalyx", gen::NotAnIntegerMessage(text), platform::MsgIcon::Error);
        return;
    }
    frequency = static_cast<float>(*value);
    const gen::TrackPosition place = gen::PositionOfFrequency(*value);
    if (place.clamped) {
        frequency = static_cast<float>(gen::FreqClamp);
        edit->setText(QString::number(gen::FreqClamp));
    }
    track->setValue(place.position); // ignored by the track bar's handler while FreqEditing
    FreqEditing = false;
}

void TFGenerator::LabEditFr1Change()
{
    FrequencyEditChange(LabEditFr1, FreqLeft, TrBarFr1);
}

void TFGenerator::LabEditFr2Change()
{
    FrequencyEditChange(LabEditFr2, FreqRight, TrBarFr2);
}

void TFGenerator::TrBarFr1Change(int position)
{
    if (!FreqEditing)
        FreqLeft = static_cast<float>(gen::FrequencyOfPosition(position));
}

void TFGenerator::TrBarFr2Change(int position)
{
    if (!FreqEditing)
        FreqRight = static_cast<float>(gen::FrequencyOfPosition(position));
}

void TFGenerator::ShowOutVolume(uint32_t volume)
{
    // Only shown, never written back: PipeWire reports a stream it has just
    // made at volume 0 for a moment, and writing that back muted the tone.
    const QSignalBlocker quiet(TrBarVolume);
    TrBarVolume->setValue(static_cast<int>(volume));
}

void TFGenerator::TrBarVolumeChange(int position)
{
    // Not while the capture tick refills: the two would talk to the device at once.
    if (GenRefillIdle)
        SetOutVolume(static_cast<uint32_t>(position));
}

bool TFGenerator::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == LabEditFr1 || watched == LabEditFr2) && event->type() == QEvent::KeyPress)
        return !FrequencyKeyPasses(static_cast<QKeyEvent*>(event)); // true: swallowed
    return QWidget::eventFilter(watched, event);
}

void TFGenerator::FillDeviceBox()
{
    const std::vector<std::string> names = ListWaveOutDevices();
    CmbBoxAOut->clear();
    for (const std::string& name : names)
        CmbBoxAOut->addItem(QString::fromStdString(name));
    // The box shows the device an Open would use (none for the default device).
    CmbBoxAOut->setCurrentIndex(GenDeviceIndex < CmbBoxAOut->count() ? GenDeviceIndex : -1);
}

void TFGenerator::Timer1Timer()
{
    // Changed texts run the edits' change handlers, which move the track bars.
    LabEditFr1->setText(QString::fromStdString(gen::FixedText(FreqLeft)));
    LabEditFr2->setText(QString::fromStdString(gen::FixedText(FreqRight)));
    if (!held)
        ShowUnderruns();
    if (const std::optional<uint32_t> volume = GetOutVolume()) {
        LabGetVolume->setText(QString::fromStdString(gen::VolumeText(*volume)));
        LabGetVolume->adjustSize();
        // Follows volume changes made outside the program; an unknown volume
        // is never written back as 0.
        const std::optional<uint32_t> again = GenRefillIdle ? GetOutVolume() : std::nullopt;
        if (again)
            ShowOutVolume(*again);
    }
    // While held, the window playing through the engine watches the devices.
    if (held || platform::WaveOutGetNumDevs() == GenDeviceCount)
        return;
    CloseWaveOut();
    GenDeviceCount = platform::WaveOutGetNumDevs();
    FillDeviceBox();
    ShowDeviceOpen(false);
    platform::ShowMessage(OutputDevicesChangedMessage);
}

BorrowedEngine BorrowEngine(const QString& by)
{
    if (FGenerator)
        FGenerator->Hold(by);
    return {GenPlaying, GenSine, GenNoise, GenPink, FGenerator && FGenerator->isVisible()};
}

void ReturnEngine(const BorrowedEngine& borrowed)
{
    GenSine = borrowed.sine;
    GenNoise = borrowed.noise;
    GenPink = borrowed.pink;
    GenPlaying = borrowed.playing;
    if (FGenerator && FGenerator->isVisible() && !borrowed.generatorShown) {
        GenPlaying = true;
        GenSine = true;
    }
    if (FGenerator)
        FGenerator->Release();
}
