#pragma once
// For tests that drive the real windows in-process: the program's binding table without the
// main window's start-up and shut-down (the tests bring the main window up themselves) and
// without the key timer (keys pressed by other tests on the shared display must not capture).
#include <vector>

#include "app/bindings.h"
#include "ui/windows.h"

namespace lumora::test {

inline std::vector<ui::Binding> programBindingsForTests() {
    constexpr std::string_view M = ui::kMainWindow;
    std::vector<ui::Binding> table;
    for (const ui::Binding& b : ui::programBindings()) {
        const bool ownLife = b.window == M && b.source == M &&
                             (b.event == ui::Event::Created || b.event == ui::Event::Destroying);
        const bool keyTimer = b.window == M && b.source == "时钟1";
        if (!ownLife && !keyTimer)
            table.push_back(b);
    }
    return table;
}

}  // namespace lumora::test
