// Key observation where no X server can be reached: every query answers "not pressed".
#include <gtest/gtest.h>

#include "platform/keys.h"
#include "tests/support/test_support.h"

namespace {

TEST(KeysWithoutDisplay, EveryQueryIsZero) {
    // Set before the first query: the monitor connects once per process.
    lumora::test::ScopedEnv display("DISPLAY", ":65000");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(lumora::platform::asyncKeyState(lumora::platform::kVkPrintScreen), 0);
        EXPECT_EQ(lumora::platform::asyncKeyState(lumora::platform::kVkInsert), 0);
        EXPECT_EQ(lumora::platform::foregroundWindow(), 0u);
    }
}

}  // namespace
