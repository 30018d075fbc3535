// The About box: the program's banner, the maker's web address as a link and
// an OK button. A small modal box of fixed size that the main window opens
// with exec() from its About menu item.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPushButton>

// The maker's web address, shown in the box and opened by its link. A
// placeholder until the owner names the address.
inline constexpr const char* MakerAddress = "https://sonalyx.example/";

// The 401 x 63 banner across the top of the box: small pictures of the three
// views (waveform, spectrum, spectrogram) in the dark scheme on the left, and
// the program's name and version in italics on a blue gradient.
QImage AboutBanner();

class TFormAbout : public QDialog {
    Q_OBJECT
public:
    explicit TFormAbout(QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* LabWWW = nullptr;
    QFrame* Panel1 = nullptr;
    QPushButton* BitBtnClose = nullptr;

public slots:
    void BitBtnCloseClick();
    void LabWWWClick();

protected:
    void showEvent(QShowEvent* event) override;
    // LabWWW's clicks: a QLabel has no click signal of its own.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void CentreOnOwner();
};

inline TFormAbout* FormAbout = nullptr;
