// The Win32 runtime under Wine, driven through its windows' own messages: a window's life from
// Created to Destroying, the tab-page rule, radio groups, Esc and Enter from whichever loop
// runs, transparent labels answering the mouse, timers, and a modal window with its own loop.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ui/events.h"
#include "ui/runtime.h"
#include "ui/win32/state.h"
#include "ui/windows.h"

namespace lumora::ui {
namespace {

constexpr std::string_view M = kMainWindow;
constexpr std::string_view S = kSettingsWindow;

std::vector<std::string>& events() {
    static std::vector<std::string> list;
    return list;
}

void record(std::string text) {
    events().push_back(std::move(text));
}

int ticks = 0;
EventArgs lastMouse;

const Binding table[] = {
    {S, S, Event::Created,
     [](const EventArgs&) {
         // Every control exists when Created is raised.
         record("created " + controlText(S, "立即生效"));
     }},
    {S, S, Event::Destroying, [](const EventArgs&) { record("destroying"); }},
    {S, "立即生效", Event::Clicked, [](const EventArgs&) { record("apply"); }},
    {S, "jpg模式", Event::Clicked, [](const EventArgs&) { record("jpg"); }},
    {M, "时钟2", Event::Tick, [](const EventArgs&) { ++ticks; }},
    {M, "时钟3", Event::Tick,
     [](const EventArgs&) {
         setTimerInterval(M, "时钟3", 0);
         record(IsWindowEnabled(reinterpret_cast<HWND>(windowHandle(M))) ? "main enabled"
                                                                         : "main disabled");
         closeWindow(S);
     }},
    {M, "透明标签4", Event::LeftButtonDown, [](const EventArgs& args) { lastMouse = args; }},
};

void pump(int milliseconds) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (static_cast<LONG>(GetTickCount() - end) < 0);
}

HWND controlWindow(std::string_view window, std::string_view control) {
    const win32::ControlState* state = win32::findControl(window, control);
    return state != nullptr ? state->hwnd : nullptr;
}

class Win32RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                     nullptr, nullptr);
        if (probe == nullptr)
            GTEST_SKIP() << "no desktop to create windows on (Wine without an X display)";
        DestroyWindow(probe);
        quitWhenLastWindowDestroyed(false);
        installBindings(table);
        events().clear();
    }
    void TearDown() override {
        for (std::string_view window : {S, M})
            closeWindow(window);
        pump(50);
    }
};

TEST_F(Win32RuntimeTest, SettingsWindowFromCreatedToDestroying) {
    ASSERT_NE(openWindow(S), 0u);
    EXPECT_EQ(events(), std::vector<std::string>{"created 立即生效！"});

    // Page 0 shows; the controls of other pages keep their flags but are hidden.
    EXPECT_TRUE(IsWindowVisible(controlWindow(S, "bmp模式")));
    EXPECT_FALSE(IsWindowVisible(controlWindow(S, "选择框_定时截图")));
    EXPECT_TRUE(controlVisible(S, "选择框_定时截图"));
    setCurrentPage(S, "选择夹1", 5);
    EXPECT_EQ(currentPage(S, "选择夹1"), 5);
    EXPECT_FALSE(IsWindowVisible(controlWindow(S, "bmp模式")));
    EXPECT_TRUE(IsWindowVisible(controlWindow(S, "选择框_定时截图")));
    EXPECT_FALSE(IsWindowVisible(controlWindow(S, "选择框_定时截图_活动窗口")));  // flag off
    setCurrentPage(S, "选择夹1", 0);

    // A click selects the radio, clears the rest of its page and is raised; code writes touch
    // one button only.
    SendMessageW(controlWindow(S, "jpg模式"), BM_CLICK, 0, 0);
    EXPECT_TRUE(controlSelected(S, "jpg模式"));
    EXPECT_FALSE(controlSelected(S, "bmp模式"));
    setControlSelected(S, "bmp模式", true);
    EXPECT_TRUE(controlSelected(S, "jpg模式"));

    // Enter from the loop clicks the default button (focus on a radio); Esc closes, and the
    // window goes at once, raising Destroying once.
    SetFocus(controlWindow(S, "jpg模式"));
    PostMessageW(controlWindow(S, "jpg模式"), WM_KEYDOWN, VK_RETURN, 0);
    pump(50);
    PostMessageW(controlWindow(S, "jpg模式"), WM_KEYDOWN, VK_ESCAPE, 0);
    pump(50);
    EXPECT_FALSE(isWindowOpen(S));
    EXPECT_EQ(events(),
              (std::vector<std::string>{"created 立即生效！", "jpg", "apply", "destroying"}));
}

TEST_F(Win32RuntimeTest, MainWindowLabelsTimersAndAModalWindow) {
    const HWND main = reinterpret_cast<HWND>(openWindow(M));
    ASSERT_NE(main, nullptr);

    // A transparent label is drawn by the window, and answers the mouse in its own coordinates.
    PostMessageW(main, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, MAKELPARAM(84 + 5, 224 + 7));
    pump(50);
    EXPECT_EQ(lastMouse.a, 5);
    EXPECT_EQ(lastMouse.b, 7);
    EXPECT_EQ(lastMouse.c, 1);
    setTextColour(M, "透明标签4", 0x12345678);
    EXPECT_EQ(textColour(M, "透明标签4"), 0x00345678u);

    ticks = 0;
    setTimerInterval(M, "时钟2", 40);
    pump(400);
    EXPECT_GE(ticks, 4);
    setTimerInterval(M, "时钟2", -5);
    EXPECT_EQ(timerInterval(M, "时钟2"), 0);
    const int stopped = ticks;
    pump(150);
    EXPECT_EQ(ticks, stopped);

    // The modal window keeps the main one from input while its loop runs; a tick of the main
    // window's timer closes it, and the call returns.
    setTimerInterval(M, "时钟3", 200);
    openWindowModal(S);
    EXPECT_FALSE(isWindowOpen(S));
    EXPECT_TRUE(IsWindowEnabled(main));
    EXPECT_EQ(events(),
              (std::vector<std::string>{"created 立即生效！", "main disabled", "destroying"}));
}

// Keys as the loop takes them from the queue, with Ctrl and Shift held as given.
void pressTab(bool control, bool shift) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = control ? 0x80 : 0;
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    pump(30);
    keys[VK_CONTROL] = keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
}

TEST_F(Win32RuntimeTest, SettingsPagesAreReachedByKeyboardAndTheirHeadersStayPut) {
    ASSERT_NE(openWindow(S), 0u);
    const HWND tab = controlWindow(S, "选择夹1");
    const auto headers = [tab] {
        std::vector<std::pair<LONG, LONG>> sizes;
        const auto count = SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0);
        for (WPARAM i = 0; i < static_cast<WPARAM>(count); ++i) {
            RECT item{};
            SendMessageW(tab, TCM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&item));
            sizes.emplace_back(item.right - item.left, item.bottom - item.top);
        }
        return sizes;
    };
    const auto before = headers();
    ASSERT_EQ(before.size(), 7u);

    // From the buttons below the pages, Ctrl+Tab and Ctrl+Shift+Tab turn them, round the end.
    SetFocus(controlWindow(S, "立即生效"));
    pressTab(true, false);
    EXPECT_EQ(currentPage(S, "选择夹1"), 1);
    pressTab(true, true);
    pressTab(true, true);
    EXPECT_EQ(currentPage(S, "选择夹1"), 6);
    EXPECT_EQ(GetFocus(), controlWindow(S, "立即生效"));

    // Tab reaches the tab control; Ctrl+Tab goes on turning there.
    for (int i = 0; i < 30 && GetFocus() != tab; ++i)
        pressTab(false, false);
    ASSERT_EQ(GetFocus(), tab);
    pressTab(true, false);
    EXPECT_EQ(currentPage(S, "选择夹1"), 0);
    EXPECT_EQ(headers(), before);
}

// A window moved to a screen of another DPI takes the rectangle Windows suggests, and its
// controls, fonts and pictures follow: the picture buttons show the copies drawn for 200 %.
TEST_F(Win32RuntimeTest, DpiChangeLaysTheWindowOutForTheNewScreen) {
    const HWND main = reinterpret_cast<HWND>(openWindow(M));
    ASSERT_NE(main, nullptr);
    RECT original{};
    GetWindowRect(main, &original);
    const win32::ControlState* change = win32::findControl(M, "图形按钮1");
    const win32::ControlState* button = win32::findControl(M, "按钮1");
    ASSERT_TRUE(change != nullptr && change->hwnd != nullptr && button != nullptr);
    const auto placeOf = [main](HWND control) {
        RECT rect{};
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    };
    const RECT at96 = placeOf(change->hwnd);

    RECT suggested{original.left + 10, original.top + 20,
                   original.left + 10 + 2 * (original.right - original.left),
                   original.top + 20 + 2 * (original.bottom - original.top)};
    SendMessageW(main, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    RECT now{};
    GetWindowRect(main, &now);
    EXPECT_TRUE(EqualRect(&now, &suggested));
    const RECT at192 = placeOf(change->hwnd);
    EXPECT_EQ(at192.right - at192.left, 2 * (at96.right - at96.left));
    EXPECT_EQ(at192.bottom - at192.top, 2 * (at96.bottom - at96.top));
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(button->hwnd, WM_GETFONT, 0, 0)),
              win32::fontFor(button->def->font, 192));
    const win32::Picture picture = win32::findPicture(change->def->images[0], 192);
    EXPECT_EQ(picture.dpi, 192);
    EXPECT_EQ(picture.width, at192.right - at192.left);
    EXPECT_EQ(win32::findPicture(change->def->images[0], 144).width,
              MulDiv(at96.right - at96.left, 3, 2));
    // The mouse is reported in the definitions' pixels still.
    PostMessageW(main, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2 * (84 + 5), 2 * (224 + 7)));
    pump(50);
    EXPECT_EQ(lastMouse.a, 5);
    EXPECT_EQ(lastMouse.b, 7);

    SendMessageW(main, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&original));
    const RECT back = placeOf(change->hwnd);
    EXPECT_TRUE(EqualRect(&back, &at96));
}

}  // namespace
}  // namespace lumora::ui
