// The program's event binding table. Each row names a handler of the layer that owns the
// behaviour; events without a row are ignored by the dispatcher.
#include "ui/bindings.h"

#include "capture/schedule.h"
#include "capture/trigger.h"
#include "ui/windows.h"

namespace lumora::ui {

namespace {

constexpr std::string_view M = kMainWindow;
constexpr std::string_view S = kSettingsWindow;
constexpr std::string_view L = kLogoWindow;

const Binding table[] = {
    // --- MainWindow: start and stop ---
    // --- MainWindow: capture timers ---
    {M, "时钟1", Event::Tick, &capture::pollHotkeys},
    {M, "时钟2", Event::Tick, &capture::intervalCaptureTick},
    {M, "时钟3", Event::Tick, &capture::timedCaptureTick},
    // --- MainWindow: folder, tray, menu, links ---
    // --- SettingsWindow ---
    // --- LogoWindow ---
    {"", "", Event::Created, nullptr},  // keeps the table non-empty; never matches a window
};

}  // namespace

std::span<const Binding> programBindings() {
    (void)M;
    (void)S;
    (void)L;
    return table;
}

}  // namespace lumora::ui
