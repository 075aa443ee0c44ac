// Key observation against the real X server: presses made with XTEST (xdotool) as a person's
// keyboard would make them.
#include "platform/keys.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <chrono>
#include <thread>

#include "tests/support/test_support.h"

using lumora::platform::asyncKeyState;
using lumora::platform::foregroundWindow;
using lumora::platform::kVkInsert;
using lumora::platform::kVkPrintScreen;
using lumora::test::runCommand;
using lumora::test::waitUntil;
using namespace std::chrono_literals;

namespace {

// Queries until the key reports something (the press travels through the server to our own
// connection asynchronously) and returns what it reported.
std::int32_t waitForReport(int key) {
    std::int32_t state = 0;
    waitUntil([&] { return (state = asyncKeyState(key)) != 0; }, 3s);
    return state;
}

// Makes sure nothing is left latched from an earlier test.
void settle() {
    std::this_thread::sleep_for(100ms);
    asyncKeyState(kVkPrintScreen);
    asyncKeyState(kVkInsert);
}

class KeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        LUMORA_REQUIRE_X();
        settle();
    }
    void TearDown() override { runCommand("xdotool keyup Print keyup Insert"); }
};

TEST_F(KeysTest, QuickPressIsReportedOnceThenCleared) {
    ASSERT_EQ(runCommand("xdotool key Print"), 0);
    const std::int32_t state = waitForReport(kVkPrintScreen);
    EXPECT_EQ(state & 1, 1) << state;
    // The other key's latch is its own.
    EXPECT_EQ(asyncKeyState(kVkInsert), 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(asyncKeyState(kVkPrintScreen), 0);
    EXPECT_EQ(asyncKeyState(kVkPrintScreen), 0);
}

TEST_F(KeysTest, HeldKeyReportsDownAtEveryQuery) {
    ASSERT_EQ(runCommand("xdotool keydown Insert"), 0);
    const std::int32_t first = waitForReport(kVkInsert);
    EXPECT_EQ(first & 0x8000, 0x8000) << first;
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(asyncKeyState(kVkInsert) & 0x8000, 0x8000) << "query " << i;
    }
    ASSERT_EQ(runCommand("xdotool keyup Insert"), 0);
    EXPECT_TRUE(waitUntil([] { return asyncKeyState(kVkInsert) == 0; }, 3s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(asyncKeyState(kVkInsert), 0);
}

TEST_F(KeysTest, EveryShortPressBetweenQueriesIsSeen) {
    // Each press is over before the query that reports it; only the latch can tell.
    int seen = 0;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(runCommand("xdotool key --delay 0 Insert"), 0);
        std::this_thread::sleep_for(30ms);
        if (waitForReport(kVkInsert) & 1)
            ++seen;
    }
    EXPECT_EQ(seen, 20);
}

TEST_F(KeysTest, BothKeysHeldTogetherAreReportedIndependently) {
    ASSERT_EQ(runCommand("xdotool keydown Print keydown Insert"), 0);
    EXPECT_NE(waitForReport(kVkPrintScreen) & 0x8000, 0);
    EXPECT_NE(waitForReport(kVkInsert) & 0x8000, 0);
    ASSERT_EQ(runCommand("xdotool keyup Insert"), 0);
    EXPECT_TRUE(waitUntil([] { return asyncKeyState(kVkInsert) == 0; }, 3s));
    EXPECT_NE(asyncKeyState(kVkPrintScreen) & 0x8000, 0);
    ASSERT_EQ(runCommand("xdotool keyup Print"), 0);
    EXPECT_TRUE(waitUntil([] { return asyncKeyState(kVkPrintScreen) == 0; }, 3s));
}

TEST_F(KeysTest, OtherKeysAreNotReported) {
    ASSERT_EQ(runCommand("xdotool key Home key Delete key a"), 0);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(asyncKeyState(kVkPrintScreen), 0);
    EXPECT_EQ(asyncKeyState(kVkInsert), 0);
    EXPECT_EQ(asyncKeyState(0x41), 0);  // only the two capture keys are observed
    EXPECT_EQ(asyncKeyState(-1), 0);
}

TEST_F(KeysTest, ChordsAreOtherProgramsShortcutsAndTheBareKeyStillCounts) {
    ASSERT_EQ(runCommand("xdotool key shift+Insert ctrl+Insert ctrl+Print shift+Print alt+Print "
                         "super+Print"),
              0);
    // A chord held on stays one after its modifier goes up first.
    ASSERT_EQ(runCommand("xdotool keydown Control_L keydown Insert keyup Control_L"), 0);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(asyncKeyState(kVkPrintScreen), 0);
    EXPECT_EQ(asyncKeyState(kVkInsert), 0);
    ASSERT_EQ(runCommand("xdotool keyup Insert key Insert"), 0);
    EXPECT_EQ(waitForReport(kVkInsert) & 1, 1);
}

class KeyRecorder : public QWidget {
public:
    int inserts = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Insert)
            ++inserts;
        QWidget::keyPressEvent(event);
    }
};

TEST_F(KeysTest, FocusedProgramStillReceivesTheKeyAndIsTheForegroundWindow) {
    KeyRecorder window;
    window.setWindowTitle("lumora keys test");
    window.resize(200, 120);
    window.show();
    const auto id = static_cast<lumora::platform::WindowHandle>(window.winId());
    // Other tests may share the display; take the focus back until the window manager
    // reports our window as the active one.
    const bool active = waitUntil(
        [&] {
            if (foregroundWindow() == id)
                return true;
            runCommand("xdotool windowactivate " + std::to_string(id) + " 2>/dev/null");
            window.activateWindow();
            return false;
        },
        10s);
    ASSERT_TRUE(active) << "the window manager never activated the test window";
    ASSERT_TRUE(waitUntil([&] { return window.hasFocus() || window.isActiveWindow(); }, 5s));

    ASSERT_EQ(runCommand("xdotool key Insert"), 0);
    EXPECT_NE(waitForReport(kVkInsert) & 1, 0);
    EXPECT_TRUE(waitUntil([&] { return window.inserts == 1; }, 3s))
        << "the focused window did not receive Insert";
}

}  // namespace
