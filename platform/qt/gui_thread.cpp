#include "platform/gui_thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

namespace lumora::platform {

void postToGuiThread(std::function<void()> task) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || !task)
        return;
    QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
}

void processEventsFor(int milliseconds) {
    if (QCoreApplication::instance() == nullptr)
        return;
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

struct RepeatingTimer::Impl {
    // Owned by the application object, so a timer kept in a static never touches Qt after the
    // application is gone.
    QPointer<QTimer> timer;
    std::function<void()> task;
};

RepeatingTimer::RepeatingTimer() : impl_(std::make_unique<Impl>()) {}

RepeatingTimer::~RepeatingTimer() {
    if (impl_->timer)
        delete impl_->timer.data();
}

void RepeatingTimer::start(int milliseconds, std::function<void()> task) {
    impl_->task = std::move(task);
    if (!impl_->timer) {
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr)
            return;
        impl_->timer = new QTimer(app);
        impl_->timer->setTimerType(Qt::PreciseTimer);
        Impl* impl = impl_.get();
        QObject::connect(impl_->timer, &QTimer::timeout, [impl] {
            // The task may stop or restart this timer; it runs from a copy.
            if (auto task = impl->task)
                task();
        });
    }
    impl_->timer->start(milliseconds);
}

void RepeatingTimer::stop() {
    if (impl_->timer)
        impl_->timer->stop();
}

bool RepeatingTimer::active() const {
    return impl_->timer && impl_->timer->isActive();
}

}  // namespace lumora::platform
