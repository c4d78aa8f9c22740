#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "base/event_loop.h"

namespace tertulia {

// Qt's event loop as the logic sees it, and the one place where a failure that escapes a
// handler is caught: it goes to the application's top-level error report instead of unwinding
// through Qt's event loop. It knows whether the handler running now answers the operator's own
// click or key, or is unbidden (a timer's, an event stream's, a posted message's), so that the
// boxes it opens behave accordingly.
class QtEventLoop : public EventLoop {
  public:
    QtEventLoop() = default;
    QtEventLoop(const QtEventLoop&) = delete;
    QtEventLoop& operator=(const QtEventLoop&) = delete;

    // The window over which the error report stands while that window is shown.
    void SetReportParent(QWidget* parent) { reportParent_ = parent; }

    // Runs the handler of something the operator did; a failure that escapes it is reported.
    void Run(const std::function<void()>& handler);
    // As Run, for a handler that no operator's action started just now: a timer's, a watched
    // connection's.
    void RunUnbidden(const std::function<void()>& handler);
    // Whether the innermost handler running now is unbidden.
    bool Unbidden() const { return unbidden_; }
    // `handler` run as Run runs it; for events that Qt's components raise.
    std::function<void()> Guarded(std::function<void()> handler);
    // Reports a failure's message, made into the report's text.
    void ReportFailure(const std::string& message);
    // Closes the reports that unbidden handlers have open, as OK would.
    void CloseUnbiddenReports();

    void Post(std::function<void()> message) override;
    void Quit() override;
    void ReportApplicationError(const std::string& text) override;

  private:
    void RunAs(bool unbidden, const std::function<void()>& handler);

    QObject context_;  // posted messages die with the loop
    QPointer<QWidget> reportParent_;
    bool unbidden_ = false;
    std::vector<QPointer<QMessageBox>> unbiddenReports_;  // open now, the innermost last
};

}  // namespace tertulia
