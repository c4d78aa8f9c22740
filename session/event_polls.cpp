#include "session/event_polls.h"

#include <algorithm>

namespace tertulia {

EventPolls::Busy::~Busy() {
    if (--polls_.busy_ == 0) polls_.Schedule();
}

EventPolls::EventPolls(Parts parts) : parts_(std::move(parts)) {
    Timer& pause = parts_.newsPause;
    pause.SetEnabled(false);
    pause.SetInterval(NewsPause);
    pause.SetHandler([this] {
        parts_.newsPause.SetEnabled(false);
        Schedule();
    });
}

EventPolls::~EventPolls() {
    parts_.newsPause.SetEnabled(false);
    parts_.newsPause.SetHandler(nullptr);
}

void EventPolls::Changed(std::int32_t idSesionClt) {
    if (parts_.hasFocus(idSesionClt)) {
        if (std::find(windowsPending_.begin(), windowsPending_.end(), idSesionClt) ==
            windowsPending_.end())
            windowsPending_.push_back(idSesionClt);
    } else {
        newsPending_ = true;
    }
    Schedule();
}

void EventPolls::StreamBroken() {
    newsPending_ = true;
    Schedule();
}

void EventPolls::NewsPollBegins() {
    newsPending_ = false;  // this poll brings what the changes so far announced
    parts_.newsPause.SetEnabled(true);
}

void EventPolls::Forget() {
    newsPending_ = false;
    windowsPending_.clear();
}

void EventPolls::Schedule() {
    if (busy_ > 0 || posted_) return;
    if (windowsPending_.empty() && !newsPending_) return;
    posted_ = true;
    parts_.loop.Post([this] {
        posted_ = false;
        RunPending();
    });
}

void EventPolls::RunPending() {
    if (busy_ > 0) return;  // the request's end schedules it again
    if (!windowsPending_.empty()) {
        const std::int32_t id = windowsPending_.front();
        windowsPending_.erase(windowsPending_.begin());
        const Busy busy(*this);  // its end runs what is left, also after a failure
        if (parts_.hasFocus(id)) {
            parts_.pollWindow(id);
        } else {
            newsPending_ = true;  // the focus went elsewhere meanwhile
        }
        return;
    }
    if (!newsPending_ || parts_.newsPause.Enabled()) return;  // the pause's end schedules it
    newsPending_ = false;
    if (!parts_.newsArmed()) return;
    const Busy busy(*this);
    parts_.pollNews();
}

}  // namespace tertulia
