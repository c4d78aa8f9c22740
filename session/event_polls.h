#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "base/event_loop.h"
#include "base/timer.h"

namespace tertulia {

// The polls that a change of a conversation brings forward: that conversation's window's poll
// while the window has the keyboard focus, otherwise the news poll, which is run only while it is
// armed, and, for a window shown without the focus, a fetch of its transcript first. As every
// poll, never while a request of the console is in progress (then right after it) and never
// nested; a news poll at most once a second, so a burst of changes gives one, and a window's
// fetch at most once a second per window, the last change of a burst fetched all the same. A broken
// event stream brings the news poll forward as well.
class EventPolls {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // What the polls run on: the conversations' windows, by conversation id, and the news poll.
    class Targets {
      public:
        virtual bool HasFocus(std::int32_t idSesionClt) const = 0;
        virtual void Poll(std::int32_t idSesionClt) = 0;
        virtual bool ShownWithoutFocus(std::int32_t idSesionClt) const = 0;
        virtual void Refresh(std::int32_t idSesionClt) = 0;
        virtual bool NewsArmed() const = 0;
        virtual void PollNews() = 0;
        virtual void FetchReadyAnswers() = 0;

      protected:
        ~Targets() = default;
    };

    struct Parts {
        EventLoop& loop;
        TimerFactory& timers;
        Clock now;
        Targets& targets;
    };

    // While one lives, a request of the console is in progress.
    class [[nodiscard]] Busy {
      public:
        explicit Busy(EventPolls& polls) : polls_(polls) { ++polls_.busy_; }
        ~Busy();
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;

      private:
        EventPolls& polls_;
    };

    static constexpr int NewsPause = 1000;
    static constexpr int RefreshPause = 1000;

    explicit EventPolls(Parts parts);
    EventPolls(const EventPolls&) = delete;
    EventPolls& operator=(const EventPolls&) = delete;

    // The service says that this conversation changed.
    void Changed(std::int32_t idSesionClt);
    // The event stream broke: a news poll finds out whether the service is still there.
    void StreamBroken();
    // The service says that the company's ready answers changed.
    void ReadyAnswersChanged();
    // Whether a request of the console is in progress.
    bool InRequest() const { return busy_ > 0; }
    // Every news poll calls this as it begins.
    void NewsPollBegins();
    // Nothing pending any more (a new session begins).
    void Forget();

  private:
    void Schedule();
    void RunPending();
    // Runs the fetch of the first waiting window whose second has passed; false when none may
    // fetch yet, with the pause set to end when the first one may.
    bool RunRefresh();

    Parts parts_;
    const std::unique_ptr<Timer> newsPause_;     // the second after a news poll began
    const std::unique_ptr<Timer> refreshPause_;  // until the next waiting window may fetch
    int busy_ = 0;
    bool posted_ = false;
    bool newsPending_ = false;
    bool answersPending_ = false;
    std::vector<std::int32_t> windowsPending_;
    std::vector<std::int32_t> refreshesPending_;
    std::map<std::int32_t, std::chrono::steady_clock::time_point> refreshed_;  // last fetch
};

}  // namespace tertulia
