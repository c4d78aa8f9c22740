#include "app/qt_readable_watch.h"

#include "app/qt_event_loop.h"

namespace tertulia {

QtReadableWatch::~QtReadableWatch() {
    delete notifier_;
}

void QtReadableWatch::Watch(int descriptor, std::function<void()> handler) {
    Stop();
    notifier_ = new QSocketNotifier(descriptor, QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated,
                     [this, handler = std::move(handler)] { loop_.RunUnbidden(handler); });
}

void QtReadableWatch::Stop() {
    if (notifier_ == nullptr) return;
    // The descriptor is closed right after; a notifier must not watch it any longer.
    notifier_->setEnabled(false);
    notifier_->disconnect();
    notifier_->deleteLater();
    notifier_ = nullptr;
}

}  // namespace tertulia
