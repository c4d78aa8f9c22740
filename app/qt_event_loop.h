#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>

#include "base/event_loop.h"

namespace tertulia {

// Qt's event loop as the logic sees it, and the one place where a failure that escapes a
// handler is caught: it goes to the application's top-level error report instead of unwinding
// through Qt's event loop.
class QtEventLoop : public EventLoop {
  public:
    QtEventLoop() = default;
    QtEventLoop(const QtEventLoop&) = delete;
    QtEventLoop& operator=(const QtEventLoop&) = delete;

    // The window over which the error report stands while that window is shown.
    void SetReportParent(QWidget* parent) { reportParent_ = parent; }

    // Runs the handler; a failure that escapes it is reported.
    void Run(const std::function<void()>& handler);
    // `handler` run so; for events that Qt's components raise.
    std::function<void()> Guarded(std::function<void()> handler);
    // Reports a failure's message, made into the report's text.
    void ReportFailure(const std::string& message);

    void Post(std::function<void()> message) override;
    void Quit() override;
    void ReportApplicationError(const std::string& text) override;

  private:
    QObject context_;  // posted messages die with the loop
    QPointer<QWidget> reportParent_;
};

}  // namespace tertulia
