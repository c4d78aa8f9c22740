#pragma once

#include <functional>

namespace tertulia {

// Calls its handler on the user-interface thread whenever a descriptor has something to read
// (bytes, its close, or a failure), for as long as it watches it. The console's event stream
// owns one.
class ReadableWatch {
  public:
    virtual ~ReadableWatch() = default;
    // Watches `descriptor` from now on, in place of any one before.
    virtual void Watch(int descriptor, std::function<void()> handler) = 0;
    // Watches nothing; the handler is not called again.
    virtual void Stop() = 0;
};

}  // namespace tertulia
