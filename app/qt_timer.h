#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <string>

#include "session/console_view.h"

namespace tertulia {

// A Timer on QTimer. A failure that escapes the handler goes to `reportFailure` instead of
// unwinding through Qt's event loop.
class QtTimer : public Timer {
  public:
    explicit QtTimer(std::function<void(const std::string& message)> reportFailure,
                     QObject* parent = nullptr);

    void SetHandler(std::function<void()> handler) override;
    void SetInterval(int milliseconds) override;
    void SetEnabled(bool enabled) override;
    bool Enabled() const override;

  private:
    void Fire();

    QTimer timer_;
    std::function<void()> handler_;
    std::function<void(const std::string&)> reportFailure_;
};

}  // namespace tertulia
