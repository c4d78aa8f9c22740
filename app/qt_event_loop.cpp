#include "app/qt_event_loop.h"

#include <QCoreApplication>
#include <exception>
#include <utility>

#include "app/message_boxes.h"
#include "session/error_report.h"
#include "widgets/qt/windows_1252.h"

namespace tertulia {

void QtEventLoop::Run(const std::function<void()>& handler) {
    RunAs(false, handler);
}

void QtEventLoop::RunUnbidden(const std::function<void()>& handler) {
    RunAs(true, handler);
}

void QtEventLoop::RunAs(bool unbidden, const std::function<void()>& handler) {
    if (!handler) return;
    // Handlers nest while a box waits; each one's own origin holds until it returns.
    struct Origin {
        bool& current;
        const bool outer;
        ~Origin() { current = outer; }
    } const origin{unbidden_, std::exchange(unbidden_, unbidden)};
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
        &context_, [this, message = std::move(message)] { RunUnbidden(message); },
        Qt::QueuedConnection);
}

void QtEventLoop::Quit() {
    QCoreApplication::exit(0);
}

void QtEventLoop::ReportApplicationError(const std::string& text) {
    if (!unbidden_) {
        ShowApplicationErrorBox(reportParent_, ToQString(text));
        return;
    }
    ShowApplicationErrorBox(reportParent_, ToQString(text), Opener::Unbidden,
                            [this](QMessageBox& box) { unbiddenReports_.emplace_back(&box); });
    std::erase_if(unbiddenReports_, [](const QPointer<QMessageBox>& box) { return box.isNull(); });
}

void QtEventLoop::CloseUnbiddenReports() {
    // Each box waits in a loop of its own; the innermost one goes first, then the ones that
    // opened before it return in turn.
    const std::vector<QPointer<QMessageBox>> boxes = unbiddenReports_;
    for (auto box = boxes.rbegin(); box != boxes.rend(); ++box) {
        if (!box->isNull()) CloseOkBox(**box);
    }
}

}  // namespace tertulia
