// Main of the tests that need Qt widgets: one QApplication for the whole run, created before
// any test, on the offscreen platform or on the test session's X display.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
