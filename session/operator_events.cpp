#include "session/operator_events.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "protocol/stream_events.h"

namespace tertulia {

OperatorEvents::OperatorEvents(Parts parts)
    : parts_(std::move(parts)), timer_(parts_.timers.Create()) {
    timer_->SetEnabled(false);
    timer_->SetHandler([this] {
        timer_->SetEnabled(false);
        if (stream_) {
            Lost();  // silent too long
        } else {
            Connect();
        }
    });
}

OperatorEvents::~OperatorEvents() {
    Close();
    timer_->SetHandler(nullptr);
}

void OperatorEvents::Open(const std::string& url) {
    Close();
    answered_ = false;
    if (!allowed_) return;
    url_ = url;
    nextPause_ = FirstPause;
    Connect();
}

void OperatorEvents::Close() {
    Drop();
    timer_->SetEnabled(false);
}

void OperatorEvents::Drop() {
    parts_.watch.Stop();
    stream_.reset();
    ++generation_;
}

void OperatorEvents::Connect() {
    Drop();
    openedAt_ = parts_.now();
    gaveEvent_ = false;
    try {
        stream_ = std::make_unique<EventStream>(url_, parts_.http.SecureTransport(),
                                                parts_.http.ConnectTimeout());
    } catch (const std::exception&) {
        Lost();
        return;
    }
    const int generation = generation_;
    parts_.watch.Watch(stream_->Descriptor(), [this, generation] { Read(generation); });
    timer_->SetInterval(LongestSilence);
    timer_->SetEnabled(true);
}

void OperatorEvents::Read(int generation) {
    if (generation != generation_ || !stream_) return;
    std::vector<ServerEvent> events;
    EventStream::Progress progress;
    try {
        progress = stream_->ReadAvailable(events);
    } catch (const std::exception&) {
        Lost();
        return;
    }
    timer_->SetEnabled(true);  // heard from: the silence starts again
    if (stream_->Answered()) answered_ = true;
    for (const ServerEvent& event : events) {
        if (const std::optional<NewsEvent> news =
                ReadNewsEvent(event.type, event.data, event.fields)) {
            gaveEvent_ = true;
            parts_.changed(news->idSesionClt, news->visitorLines);
        } else if (const std::optional<std::int32_t> typing =
                       ReadTypingEvent(event.type, event.data)) {
            gaveEvent_ = true;
            if (parts_.typing) parts_.typing(*typing);
        } else if (IsReadyAnswersEvent(event.type)) {
            gaveEvent_ = true;
            if (parts_.readyAnswersChanged) parts_.readyAnswersChanged();
        }
    }
    switch (progress) {
        case EventStream::Progress::Waiting:
            break;
        case EventStream::Progress::More:
            // Other work first; decrypted bytes may wait with nothing on the socket to wake us.
            parts_.loop.Post([this, generation] { Read(generation); });
            break;
        case EventStream::Progress::Ended:
            Lost();
            break;
        case EventStream::Progress::NotStream:
            answered_ = false;
            Close();
            break;
    }
}

void OperatorEvents::Lost() {
    const bool lasted =
        gaveEvent_ || parts_.now() - openedAt_ >= std::chrono::milliseconds(LongestSilence);
    Drop();
    if (lasted) nextPause_ = FirstPause;
    timer_->SetInterval(nextPause_);
    nextPause_ = std::min(nextPause_ * 2, LongestPause);
    timer_->SetEnabled(true);
    if (parts_.broken) parts_.broken();
}

}  // namespace tertulia
