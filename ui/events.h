#pragma once
// Events of windows, controls and menu items, and their binding to handlers.
#include <span>
#include <string_view>

namespace lumora::ui {

enum class Event {
    Created,         // window: once, after it and all its controls exist
    Destroying,      // window: once, when it is about to be destroyed
    Tray,            // window: a = 1 left click, 2 double click, 3 right click
    Clicked,         // button, picture button, checkbox, radio button
    Chosen,          // menu item (source = its caption)
    Tick,            // timer
    LeftButtonDown,  // any visible control: a = x, b = y (in the control), c = key state
    MouseMoved,      // any visible control: a = x, b = y, c = key state (1 Ctrl, 2 Shift, 4 Alt)
};

struct EventArgs {
    int a = 0;
    int b = 0;
    int c = 0;
};

using Handler = void (*)(const EventArgs&);

// (window, source, event) -> handler. The source is the window's own name for window events,
// a control name, or a menu item's caption.
struct Binding {
    std::string_view window;
    std::string_view source;
    Event event;
    Handler handler;
};

// The table the dispatcher consults; the program installs its table once at start-up, tests
// install their own. The span must outlive its use.
void installBindings(std::span<const Binding> table);

// Calls the bound handler, if any; unbound events are ignored. Returns whether one ran.
bool dispatch(std::string_view window, std::string_view source, Event event,
              const EventArgs& args = {});

}  // namespace lumora::ui
