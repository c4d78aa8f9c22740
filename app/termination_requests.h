#pragma once

#include <QObject>
#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace tertulia {

// Requests from outside the program to end it: SIGTERM, SIGINT and SIGHUP, and the end of the
// desktop session (Qt delivers the session manager's end as a Quit event to the application).
// Each runs `end` on the event loop, where the program ends as through its own menu; the signal
// handler itself only writes a byte into a socket pair that a QSocketNotifier reads. When the
// session manager asks the program to save its state, `save` runs.
//
// One at a time; the signals' previous handlers come back when it is destroyed.
class TerminationRequests : public QObject {
    Q_OBJECT

  public:
    TerminationRequests(std::function<void()> end, std::function<void()> save);
    ~TerminationRequests() override;
    TerminationRequests(const TerminationRequests&) = delete;
    TerminationRequests& operator=(const TerminationRequests&) = delete;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ReadSignals();

    std::function<void()> end_;
    int readEnd_ = -1;
    int writeEnd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previous_[3]{};
};

}  // namespace tertulia
