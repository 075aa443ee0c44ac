#include "app/event_loop.h"

#include <QApplication>
#include <QCoreApplication>

#include "app/qt_translations.h"
#include "platform/application_id.h"

namespace lumora::app {

struct EventLoop::Impl {
    std::unique_ptr<QCoreApplication> application;
};

EventLoop::EventLoop(Kind kind, int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
    if (kind == Kind::Console) {
        impl_->application = std::make_unique<QCoreApplication>(argc, argv);
        return;
    }
    impl_->application = std::make_unique<QApplication>(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(platform::kApplicationId));
    installQtTranslations();
}

EventLoop::~EventLoop() = default;

int EventLoop::run() {
    return QCoreApplication::exec();
}

void exitEventLoops(int code) {
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::exit(code);
}

void flushPostedEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace lumora::app
