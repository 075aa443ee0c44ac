// Kept apart from the event loop (app/qt/event_loop.cpp), so that the capture command can ask
// for its own process id without linking Qt.
#include <unistd.h>

#include "app/event_loop.h"

namespace lumora::app {

std::int64_t currentProcessId() {
    return static_cast<std::int64_t>(getpid());
}

}  // namespace lumora::app
