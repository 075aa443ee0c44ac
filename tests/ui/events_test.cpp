// The dispatcher: bound events reach their handler with their arguments, anything else is
// ignored, and rows without a handler never match.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/events.h"

namespace lumora::ui {
namespace {

std::vector<std::string> calls;
EventArgs received;

void first(const EventArgs& args) {
    calls.push_back("first");
    received = args;
}
void second(const EventArgs&) {
    calls.push_back("second");
}
void reinstall(const EventArgs&);

const Binding table[] = {
    {"W", "W", Event::Created, nullptr},  // a placeholder row
    {"W", "W", Event::Created, &first},     {"W", "b", Event::Clicked, &second},
    {"W", "b", Event::Clicked, &first},  // only the first match runs
    {"W", "swap", Event::Tick, &reinstall},
};

const Binding other[] = {{"X", "x", Event::Tick, &second}};

void reinstall(const EventArgs&) {
    calls.push_back("reinstall");
    installBindings(other);
}

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        installBindings(table);
    }
    void TearDown() override { installBindings({}); }
};

TEST_F(DispatchTest, BoundEventsRunTheirHandlerWithArguments) {
    EXPECT_TRUE(dispatch("W", "W", Event::Created, EventArgs{1, 2, 4}));
    EXPECT_EQ(calls, std::vector<std::string>{"first"});
    EXPECT_EQ(received.a, 1);
    EXPECT_EQ(received.b, 2);
    EXPECT_EQ(received.c, 4);
    EXPECT_TRUE(dispatch("W", "b", Event::Clicked));
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "second"}));
}

TEST_F(DispatchTest, UnboundEventsAreIgnored) {
    EXPECT_FALSE(dispatch("W", "b", Event::Tick));
    EXPECT_FALSE(dispatch("W", "c", Event::Clicked));
    EXPECT_FALSE(dispatch("V", "b", Event::Clicked));
    EXPECT_FALSE(dispatch("", "", Event::Created));
    EXPECT_TRUE(calls.empty());
    installBindings({});
    EXPECT_FALSE(dispatch("W", "W", Event::Created));
}

TEST_F(DispatchTest, AHandlerMayInstallAnotherTable) {
    EXPECT_TRUE(dispatch("W", "swap", Event::Tick));
    EXPECT_TRUE(dispatch("X", "x", Event::Tick));
    EXPECT_FALSE(dispatch("W", "W", Event::Created));
    EXPECT_EQ(calls, (std::vector<std::string>{"reinstall", "second"}));
}

}  // namespace
}  // namespace lumora::ui
