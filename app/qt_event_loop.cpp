#include "app/qt_event_loop.h"

#include <QCoreApplication>
#include <exception>

#include "app/message_boxes.h"
#include "session/error_report.h"
#include "widgets/qt/windows_1252.h"

namespace tertulia {

void QtEventLoop::Run(const std::function<void()>& handler) {
    if (!handler) return;
    try {
        handler();
    } catch (const std::exception& failure) {
        ReportFailure(failure.what());
    }
}

std::function<void()> QtEventLoop::Guarded(std::function<void()> handler) {
    return [this, handler = std::move(handler)] { Run(handler); };
}

void QtEventLoop::ReportFailure(const std::string& message) {
    ReportApplicationError(ApplicationErrorText(message));
}

void QtEventLoop::Post(std::function<void()> message) {
    QMetaObject::invokeMethod(
        &context_, [this, message = std::move(message)] { Run(message); }, Qt::QueuedConnection);
}

void QtEventLoop::Quit() {
    QCoreApplication::exit(0);
}

void QtEventLoop::ReportApplicationError(const std::string& text) {
    ShowApplicationErrorBox(reportParent_, ToQString(text));
}

}  // namespace tertulia
