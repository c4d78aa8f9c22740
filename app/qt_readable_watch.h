#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "base/readable_watch.h"

namespace tertulia {

class QtEventLoop;

// A ReadableWatch on QSocketNotifier; its handler runs guarded by the event loop.
class QtReadableWatch : public ReadableWatch {
  public:
    explicit QtReadableWatch(QtEventLoop& loop) : loop_(loop) {}
    ~QtReadableWatch() override;
    QtReadableWatch(const QtReadableWatch&) = delete;
    QtReadableWatch& operator=(const QtReadableWatch&) = delete;

    void Watch(int descriptor, std::function<void()> handler) override;
    void Stop() override;

  private:
    QtEventLoop& loop_;
    QSocketNotifier* notifier_ = nullptr;  // deleted later: Stop may come from its own signal
};

}  // namespace tertulia
