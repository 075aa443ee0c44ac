// Main of the tests that drive programs without showing windows of their own: an event loop
// for QProcess and the waits, and no display needed.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
