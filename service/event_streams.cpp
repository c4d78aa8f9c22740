#include "service/event_streams.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <map>
#include <optional>

#include "protocol/service_protocol.h"
#include "protocol/stream_events.h"
#include "service/charset.h"
#include "service/form_fields.h"
#include "service/service_log.h"
#include "service/visitor_api.h"

namespace tertulia {

namespace {

constexpr std::string_view kKeepAliveComment = ": \n\n";
// A read that found the database away is tried again this many seconds later.
constexpr int kRetrySeconds = 5;
// A visitor's stream reads at most this many lines at a time, and appends at most a page of
// events beyond what its client has taken.
constexpr std::size_t kPageLines = 256;
constexpr std::size_t kPageBytes = 64 << 10;
// Memory is given back to the system once streams have let this much go, at most this often.
constexpr std::size_t kTrimBytes = 4 << 20;
constexpr std::int64_t kTrimSeconds = 5;

// A line's number in a Last-Event-ID.
std::optional<std::size_t> LineNumber(std::string_view text) {
    std::size_t value = 0;
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || last != end) return std::nullopt;
    return value;
}

}  // namespace

// One held stream: it reads what is new when woken, one read at a time, on the pool. It is
// busy with its first read from its start, so a wake before that read is read after it.
class EventStream : public Wakeable, public std::enable_shared_from_this<EventStream> {
  public:
    EventStream(Storage& storage, WorkerPool& workers, StreamBudget& budget)
        : storage_(storage), workers_(workers), out_(std::make_shared<ReplyStream>(&budget)) {}

    const std::shared_ptr<ReplyStream>& out() const { return out_; }
    bool Ended() const { return out_->Ended(); }
    void End() { out_->End(); }

    void Wake() override {
        {
            std::lock_guard lock(mutex_);
            if (busy_) {
                again_ = true;
                return;
            }
            busy_ = true;
        }
        if (!workers_.Submit([self = shared_from_this()] { self->CatchUp(); })) {
            std::lock_guard lock(mutex_);
            busy_ = false;
        }
    }

    // The first read, on the caller's thread; wakes meanwhile are read after it.
    void Fill() {
        out_->OnDrained([weak = weak_from_this()] {
            const auto self = weak.lock();
            if (self && self->awaitingDrain_.exchange(false)) self->Wake();
        });
        out_->Append(std::string(kKeepAliveComment));
        Prime();
        CatchUp();
    }

    // False until its first read is done.
    bool Filled() {
        std::lock_guard lock(mutex_);
        return filled_;
    }

    // The second, of each keep-alive period, at which the stream gets its comment: spread over
    // the period, so that no tick writes to every stream at once.
    void SetKeepAliveSlot(std::int64_t slot) { keepAliveSlot_ = slot; }
    std::int64_t KeepAliveSlot() const { return keepAliveSlot_; }

    // Called once a second; true when a failed read is due again.
    bool RetryDue() {
        std::lock_guard lock(mutex_);
        return retryIn_ > 0 && --retryIn_ == 0;
    }

    virtual void KeepAlive() { out_->Append(std::string(kKeepAliveComment)); }
    // The conversation whose visitor the stream keeps heard from; 0 for none.
    virtual std::int32_t HeardConversation() const { return 0; }

  protected:
    // Reads the state that the stream starts from; may throw.
    virtual void Prime() = 0;
    // Reads what changed since the last read and appends its events.
    virtual void Refresh() = 0;

    // Reads again once the client has taken all that is pending.
    void ReadWhenDrained() {
        awaitingDrain_ = true;
        if (out_->Pending() == 0 && awaitingDrain_.exchange(false)) Wake();
    }

    Storage& storage_;

  private:
    void CatchUp() {
        for (;;) {
            bool failed = false;
            try {
                if (!Ended()) Refresh();
            } catch (const DatabaseUnavailable&) {
                failed = true;
            } catch (const std::exception& failure) {
                LogInternalError("flujo de eventos", failure.what());
                End();
            }
            std::lock_guard lock(mutex_);
            filled_ = true;
            if (failed) retryIn_ = kRetrySeconds;
            if (!again_) {
                busy_ = false;
                return;
            }
            again_ = false;
        }
    }

    WorkerPool& workers_;
    std::shared_ptr<ReplyStream> out_;
    std::mutex mutex_;
    bool busy_ = true;     // a read is running or queued; the first one from the start
    bool again_ = false;   // woken during it
    bool filled_ = false;  // the first read is done
    int retryIn_ = 0;
    std::int64_t keepAliveSlot_ = 0;
    std::atomic<bool> awaitingDrain_ = false;
};

namespace {

class VisitorStream : public EventStream {
  public:
    VisitorStream(Storage& storage, WorkerPool& workers, StreamBudget& budget,
                  std::int32_t conversation, std::size_t sent)
        : EventStream(storage, workers, budget), conversation_(conversation), sent_(sent) {}

    std::int32_t HeardConversation() const override { return conversation_; }

  protected:
    void Prime() override {}

    void Refresh() override {
        const std::size_t pending = out()->Pending();
        if (pending >= kPageBytes) {
            ReadWhenDrained();
            return;
        }
        const ConversationNews news =
            storage_.conversations.LinesAfter(conversation_, sent_, kPageLines);
        // A position past the end (a stale or made-up Last-Event-ID) starts again from the first.
        sent_ = news.first;
        std::string events;
        bool more = news.lines.size() == kPageLines;
        for (const StoredMessage& line : news.lines) {
            const std::string event = WriteVisitorLineEvent(sent_ + 1, MessageJson(line));
            // Always one line into an empty stream, however long.
            if (pending + events.size() + event.size() > kPageBytes &&
                (pending > 0 || !events.empty())) {
                more = true;
                break;
            }
            ++sent_;
            events += event;
        }
        // A conversation removed with its company has ended too; its end follows its last line.
        const bool closed = !news.open && !more;
        if (closed) events += WriteVisitorClosedEvent();
        if (!events.empty()) out()->Append(std::move(events));
        if (closed) End();
        if (more) ReadWhenDrained();
    }

  private:
    std::int32_t conversation_;
    std::size_t sent_;
};

// The news of one conversation, for the operator streams whose sessions see it.
struct CompanyEvent {
    std::int32_t id = 0;
    std::string owner;
    std::string text;
};

class OperatorStream : public EventStream {
  public:
    OperatorStream(Storage& storage, WorkerPool& workers, StreamBudget& budget,
                   OperatorSession session, std::string code, std::string sessionId)
        : EventStream(storage, workers, budget),
          company_(session.company),
          session_(std::move(session)),
          code_(std::move(code)),
          sessionId_(std::move(sessionId)) {}

    void KeepAlive() override {
        EventStream::KeepAlive();
        // The session lives while its stream is held, as with any request of it, and so do
        // its conversations; those it was not told of are looked at again, their owners having
        // perhaps gone.
        try {
            const auto session = storage_.sessions.Session(code_, sessionId_);
            if (!session) {
                End();
                return;
            }
            if (session->oneConsole) storage_.sessions.TouchOwned(*session);
            {
                std::lock_guard lock(sessionMutex_);
                session_ = *session;
                if (hidden_.empty()) return;
            }
            Reveal();
        } catch (const DatabaseUnavailable&) {
        }
    }

    // Appends the events of the conversations its session sees, and keeps back the others.
    // Before its first read, the stream reads the news itself once that read is done.
    void Tell(const std::vector<CompanyEvent>& events) {
        if (!Filled()) {
            Wake();
            return;
        }
        std::string text;
        {
            std::lock_guard lock(sessionMutex_);
            for (const CompanyEvent& event : events) {
                if (session_.Sees(event.owner)) {
                    text += event.text;
                } else {
                    hidden_.insert(event.id);
                }
            }
        }
        if (!text.empty()) out()->Append(std::move(text));
    }

    // An event of the conversation owned by `owner`, if its session sees it; not kept back
    // otherwise, as it tells of nothing stored.
    void TellPassing(const std::string& owner, std::string text) {
        if (!Filled()) return;
        {
            std::lock_guard lock(sessionMutex_);
            if (!session_.Sees(owner)) return;
        }
        out()->Append(std::move(text));
    }

  protected:
    void Prime() override {
        known_ = Read();
        answers_ = storage_.readyAnswers.Version(company_);
    }

    void Refresh() override {
        std::map<std::int32_t, ConversationActivity> now = Read();
        std::string events;
        // A change of the answers by any service, or by a command, is read here: its
        // announcement wakes the company's streams, and so does a change from another
        // process on SQLite, which wakes them all.
        const std::int64_t answers = storage_.readyAnswers.Version(company_);
        if (answers != answers_) events += WriteReadyAnswersEvent();
        answers_ = answers;
        for (const auto& [id, activity] : now) {
            const auto was = known_.find(id);
            if (was == known_.end() || was->second.lines != activity.lines ||
                was->second.visitorLines != activity.visitorLines) {
                events += WriteNewsEvent({id, activity.visitorLines});
            }
        }
        for (const auto& [id, activity] : known_) {
            if (now.contains(id)) continue;
            // Closed, or removed with its company: a line may have come just before. One that
            // another session took is left out, as if it had never been told.
            const auto closed = storage_.conversations.CompanyConversation(company_, id);
            if (closed && closed->open) continue;
            events +=
                WriteNewsEvent({id, closed ? closed->visitorLines : activity.visitorLines, true});
        }
        known_ = std::move(now);
        if (!events.empty()) out()->Append(std::move(events));
    }

  private:
    // The open conversations its session sees; the others are kept back.
    std::map<std::int32_t, ConversationActivity> Read() {
        std::map<std::int32_t, ConversationActivity> result;
        const std::vector<ConversationActivity> open =
            storage_.conversations.OpenActivity(company_);
        std::lock_guard lock(sessionMutex_);
        for (const ConversationActivity& activity : open) {
            if (session_.Sees(activity.owner)) {
                result.emplace(activity.id, activity);
            } else {
                hidden_.insert(activity.id);
            }
        }
        return result;
    }

    // Tells of the conversations kept back that its session sees now, as new ones.
    void Reveal() {
        const std::vector<ConversationActivity> open =
            storage_.conversations.OpenActivity(company_);
        std::string events;
        {
            std::lock_guard lock(sessionMutex_);
            std::set<std::int32_t> still;
            for (const ConversationActivity& activity : open) {
                if (!hidden_.contains(activity.id)) continue;
                if (session_.Sees(activity.owner)) {
                    events += WriteNewsEvent({activity.id, activity.visitorLines});
                } else {
                    still.insert(activity.id);
                }
            }
            hidden_ = std::move(still);
        }
        if (!events.empty()) out()->Append(std::move(events));
    }

    const std::int64_t company_;
    std::mutex sessionMutex_;  // over session_ and hidden_, which news from any thread reads
    OperatorSession session_;  // its option may change
    std::string code_;
    std::string sessionId_;
    std::map<std::int32_t, ConversationActivity> known_;
    std::int64_t answers_ = 0;       // the version of the company's ready answers told of
    std::set<std::int32_t> hidden_;  // open conversations it was not told of
};

}  // namespace

EventStreams::EventStreams(Storage& storage, unsigned silenceSeconds, std::size_t bufferBytes)
    : storage_(storage),
      // As often as the visitor page's reads mark it, well within the silence.
      touchEvery_(VisitorTouchInterval(silenceSeconds)),
      budget_(bufferBytes) {
    storage_.conversations.WatchChanges(
        [this](std::int64_t company, std::int32_t conversation) {
            hub_.Changed(conversation);
            QueueNews(company, conversation);
        },
        [this] { hub_.ChangedAll(); },
        [this](std::int64_t company, std::int32_t conversation, TypingSide side,
               const std::string& owner) {
            if (side == TypingSide::Operator) {
                OperatorTyping(conversation);
            } else {
                VisitorTyping(company, conversation, owner);
            }
        },
        [this](std::int64_t company) {
            for (const auto& stream : hub_.CompanyStreams(company)) stream->Wake();
        });
    timer_ = std::thread([this] { Loop(); });
}

EventStreams::~EventStreams() {
    storage_.conversations.WatchChanges({}, {});
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stop_.notify_all();
    timer_.join();
    // No job may run on the members once they go.
    workers_.Drain();
    std::lock_guard lock(mutex_);
    for (const auto& stream : streams_) stream->End();
}

std::shared_ptr<ReplyStream> EventStreams::Visitor(std::string_view idText, std::string_view query,
                                                   std::string_view lastEventId) {
    const auto id = ServiceConversationId(idText);
    if (!id) return nullptr;
    const auto conversation = storage_.conversations.VisitorConversation(
        *id, FormFields::Parse(query).Get("token"), touchEvery_);
    if (!conversation) return nullptr;
    const std::size_t sent = LineNumber(lastEventId).value_or(0);
    auto stream = std::make_shared<VisitorStream>(storage_, workers_, budget_, *id, sent);
    hub_.WatchConversation(*id, stream);
    Start(stream);
    return stream->out();
}

std::shared_ptr<ReplyStream> EventStreams::Operator(std::string_view windows1252Code,
                                                    const std::string& sessionId) {
    const std::string code = Utf8FromWindows1252(windows1252Code);
    auto found = storage_.sessions.Session(code, sessionId);
    if (!found) return nullptr;
    const std::int64_t company = found->company;
    auto stream = std::make_shared<OperatorStream>(storage_, workers_, budget_, std::move(*found),
                                                   code, sessionId);
    hub_.WatchCompany(company, stream);
    std::shared_ptr<EventStream> replaced;
    {
        std::lock_guard lock(mutex_);
        replaced = sessions_[code + "\n" + sessionId].lock();
        sessions_[code + "\n" + sessionId] = stream;
    }
    if (replaced) replaced->End();
    Start(stream);
    return stream->out();
}

void EventStreams::VisitorTyping(std::int64_t company, std::int32_t conversation,
                                 const std::string& owner) {
    for (const auto& stream : hub_.CompanyStreams(company)) {
        static_cast<OperatorStream&>(*stream).TellPassing(owner, WriteTypingEvent(conversation));
    }
}

void EventStreams::OperatorTyping(std::int32_t conversation) {
    for (const auto& stream : hub_.ConversationStreams(conversation)) {
        static_cast<EventStream&>(*stream).out()->Append(WriteVisitorTypingEvent());
    }
}

EventStreams::Held EventStreams::Count() {
    Held held;
    std::lock_guard lock(mutex_);
    for (const auto& stream : streams_) {
        if (stream->Ended()) continue;
        ++(stream->HeardConversation() != 0 ? held.visitors : held.operators);
    }
    return held;
}

void EventStreams::QueueNews(std::int64_t company, std::int32_t conversation) {
    {
        std::lock_guard lock(mutex_);
        CompanyNews& news = news_[company];
        news.changed.insert(conversation);
        if (news.reading) return;
        news.reading = true;
    }
    if (!workers_.Submit([this, company] { TellNews(company); })) {
        std::lock_guard lock(mutex_);
        news_.erase(company);
    }
}

void EventStreams::TellNews(std::int64_t company) {
    for (;;) {
        std::set<std::int32_t> changed;
        {
            std::lock_guard lock(mutex_);
            CompanyNews& news = news_[company];
            if (news.changed.empty()) {
                news_.erase(company);
                return;
            }
            changed.swap(news.changed);
        }
        const std::vector<std::shared_ptr<Wakeable>> streams = hub_.CompanyStreams(company);
        if (streams.empty()) continue;
        std::vector<CompanyEvent> events;
        try {
            for (const std::int32_t id : changed) {
                auto conversation = storage_.conversations.CompanyConversation(company, id);
                if (!conversation) continue;  // removed with its company
                events.push_back(
                    {id, std::move(conversation->owner),
                     WriteNewsEvent({id, conversation->visitorLines, !conversation->open})});
            }
        } catch (const std::exception& failure) {
            // Each stream then reads the company's news itself, tried again until it answers.
            LogLine(LogPriority::Error,
                    std::string("no se han podido leer las noticias de una empresa: ") +
                        failure.what());
            for (const auto& stream : streams) stream->Wake();
            continue;
        }
        if (events.empty()) continue;
        for (const auto& stream : streams) static_cast<OperatorStream&>(*stream).Tell(events);
    }
}

void EventStreams::Start(const std::shared_ptr<EventStream>& stream) {
    {
        std::lock_guard lock(mutex_);
        // Its first comment after the one it starts with comes 1 to 20 s later, at a second
        // that the streams started together share out.
        const std::int64_t period = kKeepAlive.count();
        stream->SetKeepAliveSlot((ticks_ + 2 + started_++ % (period - 1)) % period);
        streams_.push_back(stream);
    }
    try {
        stream->Fill();
    } catch (...) {
        stream->End();  // no client will take it
        throw;
    }
}

void EventStreams::Loop() {
    std::unique_lock lock(mutex_);
    while (!stop_.wait_for(lock, std::chrono::seconds(1), [&] { return stopping_; })) {
        lock.unlock();
        Tick();
        lock.lock();
    }
}

void EventStreams::Tick() {
    std::vector<std::shared_ptr<EventStream>> live;
    std::int64_t tick = 0;
    {
        std::lock_guard lock(mutex_);
        tick = ++ticks_;
        std::erase_if(streams_, [](const auto& stream) { return stream->Ended(); });
        live = streams_;
        if (tick % 60 == 0) {
            std::erase_if(sessions_, [](const auto& entry) { return entry.second.expired(); });
        }
    }
    if (tick % 60 == 0) hub_.Sweep();
    const std::int64_t keepAliveSlot = tick % kKeepAlive.count();
    std::vector<std::int32_t> heard;
    const auto now = ReplyStream::Clock::now();
    for (const auto& stream : live) {
        if (stream->out()->CutIfStalled(now)) continue;
        if (stream->RetryDue()) stream->Wake();
        if (stream->KeepAliveSlot() == keepAliveSlot) {
            if (stream->HeardConversation() != 0) {
                stream->KeepAlive();
            } else {
                workers_.Submit([stream] { stream->KeepAlive(); });
            }
        }
        if (tick % touchEvery_ == 0 && stream->HeardConversation() != 0)
            heard.push_back(stream->HeardConversation());
    }
    TrimAfterRelease();
    if (!heard.empty()) {
        workers_.Submit([this, heard = std::move(heard)] {
            try {
                storage_.conversations.TouchVisitors(heard);
            } catch (const std::exception& failure) {
                LogLine(LogPriority::Error,
                        std::string("no se ha podido marcar a los visitantes presentes: ") +
                            failure.what());
            }
        });
    }
}

void EventStreams::TrimAfterRelease() {
    const std::size_t used = budget_.Used();
    budgetPeak_ = std::max(budgetPeak_, used);
    if (budgetPeak_ - used < kTrimBytes || ticks_ - trimmedTick_ < kTrimSeconds) return;
    // Freed pieces of the threads' arenas are otherwise kept for good.
    malloc_trim(0);
    budgetPeak_ = used;
    trimmedTick_ = ticks_;
}

}  // namespace tertulia
