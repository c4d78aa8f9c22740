#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

#include "base/timer.h"

namespace tertulia {

class QtEventLoop;

// A Timer on QTimer; its handler runs guarded by the event loop.
class QtTimer : public Timer {
  public:
    explicit QtTimer(QtEventLoop& loop, QObject* parent = nullptr);

    void SetHandler(std::function<void()> handler) override;
    void SetInterval(int milliseconds) override;
    void SetEnabled(bool enabled) override;
    bool Enabled() const override;

  private:
    QTimer timer_;
    std::function<void()> handler_;
};

// Makes QtTimers over the event loop.
class QtTimerFactory : public TimerFactory {
  public:
    explicit QtTimerFactory(QtEventLoop& loop) : loop_(loop) {}
    std::unique_ptr<Timer> Create() override { return std::make_unique<QtTimer>(loop_); }

  private:
    QtEventLoop& loop_;
};

}  // namespace tertulia
