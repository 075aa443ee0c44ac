#include "platform/termination.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include "platform/posix/termination_signals.h"

namespace lumora::platform {

bool onTerminationRequest(std::function<void(int signal)> requested, std::function<void()>) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return false;
    const int fd = posix::catchTerminationSignals();
    if (fd < 0)
        return false;
    // Owned by the application object, so it goes before the loop it serves does.
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [notifier, fd, requested = std::move(requested)] {
                         const int signal = posix::takeTerminationSignal(fd);
                         if (signal == 0)
                             return;
                         notifier->setEnabled(false);  // served once; a second one ends at once
                         requested(signal);
                     });
    return true;
}

}  // namespace lumora::platform
