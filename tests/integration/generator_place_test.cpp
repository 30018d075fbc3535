// Where the generator window opens: the main window's menu bar and control
// strip stay free, so the device and the window function can still be set
// while it plays.
#include "common/live_program.h"

#include "app/main.h"
#include "generator/Generator.h"

#include <QApplication>
#include <QMenuBar>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class GeneratorWindow : public LiveProgram {};

QRect GlobalRect(const QWidget* widget)
{
    return {widget->mapToGlobal(QPoint(0, 0)), widget->size()};
}

TEST_F(GeneratorWindow, OpensClearOfTheMenuBarAndTheControlStripAndLaterWhereItWasLeft)
{
    if (!Running())
        return;
    // As the program shows its main window.
    FormMain->setGeometry(QApplication::primaryScreen()->availableGeometry());
    FormMain->showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FormMain));

    FormMain->menuGeneratorClick();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FGenerator));
    const QRect generator = FGenerator->frameGeometry();
    EXPECT_FALSE(generator.intersects(GlobalRect(FormMain->menuBar())))
        << generator.x() << "," << generator.y() << " menu bar at " << GlobalRect(FormMain->menuBar()).y();
    EXPECT_FALSE(generator.intersects(GlobalRect(FormMain->PanelControl)))
        << generator.x() << "," << generator.y() << " strip ends at " << GlobalRect(FormMain->PanelControl).bottom();
    EXPECT_TRUE(FGenerator->screen()->availableGeometry().contains(generator));
    EXPECT_EQ(FGenerator->size(), QSize(GeneratorWidth, GeneratorHeight)) << "its size as ever";

    FGenerator->close();
    FGenerator->move(200, 300);
    FormMain->menuGeneratorClick();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FGenerator));
    EXPECT_EQ(FGenerator->frameGeometry().topLeft(), QPoint(200, 300)) << "where the user left it";
    FGenerator->close();
}

} // namespace
