// Runs every test inside one QApplication, so widgets, timers and coroutines work.

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // Without a display (a plain build machine) widgets still work off screen.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
