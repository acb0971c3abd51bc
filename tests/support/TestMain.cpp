#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

// Every test program runs with an application object; discovery at build time needs no display. Status items
// made in tests stay off the desktop's own tray: no session bus (tests that want one start their own).
int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
