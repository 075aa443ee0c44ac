#include "ui/events.h"

namespace lumora::ui {

namespace {

std::span<const Binding>& installedTable() {
    static std::span<const Binding> table;
    return table;
}

}  // namespace

void installBindings(std::span<const Binding> table) {
    installedTable() = table;
}

bool dispatch(std::string_view window, std::string_view source, Event event,
              const EventArgs& args) {
    // Copy the span first: a handler may install another table while it runs.
    const std::span<const Binding> table = installedTable();
    for (const Binding& row : table) {
        if (row.handler == nullptr || row.event != event || row.window != window ||
            row.source != source) {
            continue;
        }
        row.handler(args);
        return true;
    }
    return false;
}

}  // namespace lumora::ui
