#include "session/event_polls.h"

#include <algorithm>

namespace tertulia {

EventPolls::Busy::~Busy() {
    if (--polls_.busy_ == 0) polls_.Schedule();
}

EventPolls::EventPolls(Parts parts)
    : parts_(std::move(parts)),
      newsPause_(parts_.timers.Create()),
      refreshPause_(parts_.timers.Create()) {
    Timer& pause = *newsPause_;
    pause.SetEnabled(false);
    pause.SetInterval(NewsPause);
    pause.SetHandler([this] {
        newsPause_->SetEnabled(false);
        Schedule();
    });
    Timer& refreshPause = *refreshPause_;
    refreshPause.SetEnabled(false);
    refreshPause.SetHandler([this] {
        refreshPause_->SetEnabled(false);
        Schedule();
    });
}

namespace {

void AddOnce(std::vector<std::int32_t>& ids, std::int32_t id) {
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
}

}  // namespace

void EventPolls::Changed(std::int32_t idSesionClt) {
    if (parts_.targets.HasFocus(idSesionClt)) {
        AddOnce(windowsPending_, idSesionClt);
    } else {
        newsPending_ = true;
        if (parts_.targets.ShownWithoutFocus(idSesionClt)) AddOnce(refreshesPending_, idSesionClt);
    }
    Schedule();
}

void EventPolls::StreamBroken() {
    newsPending_ = true;
    Schedule();
}

void EventPolls::ReadyAnswersChanged() {
    answersPending_ = true;
    Schedule();
}

void EventPolls::NewsPollBegins() {
    newsPending_ = false;  // this poll brings what the changes so far announced
    newsPause_->SetEnabled(true);
}

void EventPolls::Forget() {
    newsPending_ = false;
    answersPending_ = false;
    windowsPending_.clear();
    refreshesPending_.clear();
    refreshed_.clear();
    refreshPause_->SetEnabled(false);
}

void EventPolls::Schedule() {
    if (busy_ > 0 || posted_) return;
    if (windowsPending_.empty() && refreshesPending_.empty() && !newsPending_ && !answersPending_) {
        return;
    }
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
        if (parts_.targets.HasFocus(id)) {
            parts_.targets.Poll(id);
        } else {
            newsPending_ = true;  // the focus went elsewhere meanwhile
        }
        return;
    }
    // Before the news, so that a notification the news poll gives has the line to show.
    if (RunRefresh()) return;
    if (answersPending_) {
        answersPending_ = false;
        const Busy busy(*this);
        parts_.targets.FetchReadyAnswers();
        return;
    }
    if (!newsPending_ || newsPause_->Enabled()) return;  // the pause's end schedules it
    newsPending_ = false;
    if (!parts_.targets.NewsArmed()) return;
    const Busy busy(*this);
    parts_.targets.PollNews();
}

bool EventPolls::RunRefresh() {
    if (refreshesPending_.empty()) return false;
    const auto now = parts_.now();
    const auto pause = std::chrono::milliseconds(RefreshPause);
    auto soonest = pause;
    for (auto each = refreshesPending_.begin(); each != refreshesPending_.end(); ++each) {
        const std::int32_t id = *each;
        const auto last = refreshed_.find(id);
        const auto since = last == refreshed_.end() ? pause : now - last->second;
        if (since < pause) {
            soonest =
                std::min(soonest, std::chrono::ceil<std::chrono::milliseconds>(pause - since));
            continue;
        }
        refreshesPending_.erase(each);
        refreshed_[id] = now;
        const Busy busy(*this);  // its end runs what is left, also after a failure
        if (parts_.targets.ShownWithoutFocus(id)) parts_.targets.Refresh(id);
        return true;
    }
    if (!refreshPause_->Enabled()) {
        refreshPause_->SetInterval(static_cast<int>(std::max<long long>(soonest.count(), 1)));
        refreshPause_->SetEnabled(true);
    }
    return false;
}

}  // namespace tertulia
