// The About box under Xvfb: its layout and colours, the banner it draws, and
// how its OK button and its link end the modal box.
#include "about/about.h"

#include <QDesktopServices>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>

namespace {

QColor At(const QImage& image, int x, int y)
{
    return QColor(image.pixel(x, y));
}

bool IsBlue(const QColor& c)
{
    return c.blue() > 80 && c.blue() > c.red() + 40 && c.blue() > c.green() + 40;
}

bool RegionHas(const QImage& image, const QRect& region, const QColor& colour)
{
    for (int y = region.top(); y <= region.bottom(); ++y)
        for (int x = region.left(); x <= region.right(); ++x)
            if (At(image, x, y) == colour)
                return true;
    return false;
}

// Stands in for the browser: records each address and whether the box was
// still on screen when the address was handed over.
class BrowserStandIn : public QObject {
    Q_OBJECT
public:
    explicit BrowserStandIn(const TFormAbout* box) : box(box)
    {
        QDesktopServices::setUrlHandler("https", this, "open");
    }
    ~BrowserStandIn() override { QDesktopServices::unsetUrlHandler("https"); }
    QList<QUrl> opened;
    bool boxVisibleWhenOpened = true;
public slots:
    void open(const QUrl& url)
    {
        opened.push_back(url);
        boxVisibleWhenOpened = box->isVisible();
    }

private:
    const TFormAbout* box;
};

// Runs the box modally; `whileShown` runs once it is on screen. A box still
// open after 5 s is ended so that a fault fails the test instead of hanging it.
bool ExecUntilClosed(TFormAbout& box, const std::function<void()>& whileShown)
{
    bool endedByWatchdog = false;
    QTimer::singleShot(0, &box, [&] {
        if (QTest::qWaitForWindowExposed(&box))
            whileShown();
    });
    QTimer::singleShot(5000, &box, [&] {
        endedByWatchdog = box.isVisible();
        box.done(QDialog::Rejected);
    });
    box.exec();
    return !endedByWatchdog;
}

TEST(AboutBox, FixedFormWithItsControlsInPlace)
{
    TFormAbout box;
    EXPECT_EQ(box.windowTitle(), "About");
    EXPECT_EQ(box.size(), QSize(402, 247));
    EXPECT_EQ(box.minimumSize(), box.maximumSize());
    const Qt::WindowFlags flags = box.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));

    EXPECT_EQ(box.Image1->geometry(), QRect(0, 0, 401, 63));
    EXPECT_EQ(box.LabWWW->pos(), QPoint(130, 120));
    EXPECT_EQ(box.LabWWW->text(), MakerAddress);
    EXPECT_TRUE(box.LabWWW->font().underline());
    EXPECT_EQ(box.LabWWW->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(box.Panel1->geometry(), QRect(0, 150, 400, 2));
    EXPECT_EQ(box.Panel1->frameShape(), QFrame::HLine);
    EXPECT_EQ(box.Panel1->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(box.BitBtnClose->geometry(), QRect(160, 208, 73, 25));
    EXPECT_EQ(box.BitBtnClose->text(), "OK");

    // What is painted: the box's colour in the free space and behind the
    // link, navy link text, and the banner on top.
    const QImage shot = box.grab().toImage();
    EXPECT_EQ(At(shot, 10, 100), QColor(227, 219, 213));
    EXPECT_EQ(At(shot, 10, 240), QColor(227, 219, 213));
    const QRect link = box.LabWWW->geometry();
    EXPECT_EQ(At(shot, link.left(), link.top()), QColor(227, 219, 213));
    EXPECT_TRUE(RegionHas(shot, link, QColor(0, 0, 128)));
    EXPECT_EQ(shot.copy(0, 0, 401, 63).convertToFormat(QImage::Format_RGB32), AboutBanner());
}

TEST(AboutBanner, ViewPicturesOnTheLeftAndTheNameOnABlueGradient)
{
    const QImage banner = AboutBanner();
    ASSERT_EQ(banner.size(), QSize(401, 63));

    // The gradient: blue above and below the name and at the right edge,
    // getting lighter to the right.
    for (int x = 185; x < 401; x += 5) {
        EXPECT_TRUE(IsBlue(At(banner, x, 1))) << "x " << x;
        EXPECT_TRUE(IsBlue(At(banner, x, 61))) << "x " << x;
    }
    for (int y = 0; y < 63; ++y)
        EXPECT_TRUE(IsBlue(At(banner, 399, y))) << "y " << y;
    EXPECT_GT(At(banner, 399, 1).lightness(), At(banner, 185, 1).lightness());
    // The name and version stand out light on it.
    EXPECT_TRUE(RegionHas(banner, QRect(185, 5, 216, 50), Qt::white));

    // The views' pictures in the dark scheme's grid and trace colours, and
    // more than a handful of colours in the spectrogram's columns.
    const QRect pictures(0, 0, 180, 63);
    EXPECT_TRUE(RegionHas(banner, pictures, QColor(70, 70, 90)));
    EXPECT_TRUE(RegionHas(banner, pictures, QColor(255, 200, 20)));
    EXPECT_TRUE(RegionHas(banner, pictures, QColor(0, 255, 0)));
    QSet<QRgb> spectrogramColours;
    for (int y = 10; y < 55; ++y)
        spectrogramColours.insert(banner.pixel(150, y));
    EXPECT_GT(spectrogramColours.size(), 8);
}

TEST(AboutBox, OkEndsTheModalBoxShownCentredOnItsOwner)
{
    QWidget owner;
    owner.setGeometry(100, 80, 900, 700);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    TFormAbout box(&owner);
    QPoint boxCentre;
    ASSERT_TRUE(ExecUntilClosed(box, [&] {
        boxCentre = box.frameGeometry().center();
        QTest::mouseClick(box.BitBtnClose, Qt::LeftButton);
    }));
    EXPECT_FALSE(box.isVisible());
    EXPECT_LE((boxCentre - owner.frameGeometry().center()).manhattanLength(), 2);
}

TEST(AboutBox, LinkEndsTheBoxAndThenOpensTheMakersAddress)
{
    TFormAbout box;
    BrowserStandIn browser(&box);
    ASSERT_TRUE(ExecUntilClosed(box, [&] { QTest::mouseClick(box.LabWWW, Qt::LeftButton); }));
    ASSERT_EQ(browser.opened.size(), 1);
    EXPECT_EQ(browser.opened[0], QUrl(MakerAddress));
    EXPECT_FALSE(browser.boxVisibleWhenOpened);
}

} // namespace

#include "about_test.moc"
