#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/event_loop.h"
#include "base/readable_watch.h"
#include "base/timer.h"
#include "http/event_stream.h"
#include "http/http_client.h"

namespace tertulia {

// The operator's event stream of a session: opened after each login, it tells which conversation
// changed, whose visitor is typing, and that the company's ready answers changed. Read only as its
// bytes arrive; a stream that fails, ends or falls silent is opened again after a pause (1 s, twice
// as long each time up to a minute, 1 s again after a stream that gave an event or lived a minute),
// without a word to the operator; the console is told that it broke, so that it can see at once
// whether the service is still there. A service that answers with anything but a stream (an older
// one, or a lapsed session) is not asked again until the next login.
class OperatorEvents {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    struct Parts {
        ReadableWatch& watch;
        TimerFactory& timers;
        EventLoop& loop;
        const HttpClient& http;  // the service's connections are made and trusted as its are
        Clock now;
        // With the visitor's line count where the event carries one.
        std::function<void(std::int32_t idSesionClt, std::optional<std::int64_t> visitorLines)>
            changed;
        std::function<void()> broken;  // the stream failed, ended or fell silent; may be empty
        std::function<void(std::int32_t idSesionClt)> typing;  // its visitor types; may be empty
        std::function<void()> readyAnswersChanged;             // may be empty
    };

    static constexpr int FirstPause = 1000;
    static constexpr int LongestPause = 60000;
    // Keep-alive comments come every 20 s: a stream silent for this long is gone.
    static constexpr int LongestSilence = 60000;

    explicit OperatorEvents(Parts parts);
    ~OperatorEvents();
    OperatorEvents(const OperatorEvents&) = delete;
    OperatorEvents& operator=(const OperatorEvents&) = delete;

    // The switch of the settings file; off, no stream is opened.
    void SetAllowed(bool allowed) { allowed_ = allowed; }
    bool Allowed() const { return allowed_; }
    // Opens the stream of a new session, in place of any one before.
    void Open(const std::string& url);
    // No stream and no more attempts.
    void Close();
    // Whether the service has answered this session's stream as one: a service that knows the
    // stream knows the news that the operator types.
    bool Answered() const { return answered_; }

  private:
    void Connect();
    void Read(int generation);
    void Lost();
    void Drop();

    Parts parts_;
    // The pause before the next attempt, and the silence of an open stream.
    const std::unique_ptr<Timer> timer_;
    bool allowed_ = false;  // until the console has read its settings
    std::string url_;
    std::unique_ptr<EventStream> stream_;
    int generation_ = 0;  // of the stream now open; later reads of an older one do nothing
    std::chrono::steady_clock::time_point openedAt_;
    bool gaveEvent_ = false;
    int nextPause_ = FirstPause;
    bool answered_ = false;
};

}  // namespace tertulia
