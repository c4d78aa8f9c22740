#pragma once

#include <functional>
#include <string>

namespace tertulia {

// The application's message loop as the console's logic uses it.
class EventLoop {
  public:
    virtual ~EventLoop() = default;
    // Runs `message` after the current event has been handled (a message posted to itself).
    virtual void Post(std::function<void()> message) = 0;
    // Ends the application once the current event has been handled.
    virtual void Quit() = 0;
    // The application's top-level error report: title "Tertulia", error icon, "OK".
    virtual void ReportApplicationError(const std::string& text) = 0;
};

}  // namespace tertulia
