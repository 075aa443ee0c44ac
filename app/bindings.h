#pragma once
#include <span>

#include "ui/events.h"

namespace lumora::ui {

// The program's binding table: every (window, source, event) the program listens to.
std::span<const Binding> programBindings();

}  // namespace lumora::ui
