#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

// Every test program runs with an application object; discovery at build time needs no display.
int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
