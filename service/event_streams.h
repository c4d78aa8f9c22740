#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "service/reply_stream.h"
#include "service/storage.h"
#include "service/stream_hub.h"
#include "service/visitor_api.h"
#include "service/worker_pool.h"

namespace tertulia {

class EventStream;

// The Server-Sent Events that the service pushes (their forms in protocol/stream_events.h). A
// visitor's stream carries its conversation's lines, each with its number in the conversation
// as its id, and its end; an operator's stream carries the news of a conversation of the company
// (its id, its visitor's line count, and whether it closed) whenever it opens, gets a line or
// closes. A change wakes its conversation's streams
// (StreamHub), and a woken stream reads what is new on a worker of its own pool and appends it;
// the company's news of the change is read once, on that pool, and appended to every operator
// stream of the company, however many there are. A comment every
// 20 s keeps each stream alive (each stream at its own tenth of a second of the 20, never many at
// once: a few hundred comments written together hold back the lines behind them), and a
// held stream keeps its visitor heard from, or its operator's session alive. What the streams hold
// for their clients counts against one budget (see ReplyStream); a visitor's stream reads its lines
// a page at a time, the next once its client has taken the one before.
class EventStreams {
  public:
    static constexpr std::chrono::seconds kKeepAlive{20};
    // How often the keep-alives due are written.
    static constexpr std::chrono::milliseconds kKeepAliveStep{100};

    // `visitors`: the silences after which a held stream's visitor is to be marked heard from;
    // `bufferBytes`: what all streams together may hold for their clients. The streams' replies
    // are to be gone (their server stopped) before this is destroyed.
    EventStreams(Storage& storage, const VisitorLimits& visitors, std::size_t bufferBytes);
    ~EventStreams();
    EventStreams(const EventStreams&) = delete;
    EventStreams& operator=(const EventStreams&) = delete;

    // The stream of conversation `idText` for the token of `query`, from the line after
    // `lastEventId` (all lines when it is not a number from 0 to the conversation's count of
    // lines); null when there is no such conversation for that token.
    std::shared_ptr<ReplyStream> Visitor(std::string_view idText, std::string_view query,
                                         std::string_view lastEventId);
    // The stream of the operator's session `sessionId` of the company `windows1252Code` (as
    // the request names it), which ends a stream the session held before;
    // null when the session is unknown or lapsed.
    std::shared_ptr<ReplyStream> Operator(std::string_view windows1252Code,
                                          const std::string& sessionId);

    // The streams held open now.
    struct Held {
        std::size_t visitors = 0;
        std::size_t operators = 0;
    };
    Held Count();

  private:
    // Typing, announced by any service on the database, told to the streams held here: the
    // visitor's to the operator streams of the company whose sessions see the conversation
    // (owned by `owner`), the operator's to the conversation's visitor streams.
    void VisitorTyping(std::int64_t company, std::int32_t conversation, const std::string& owner);
    void OperatorTyping(std::int32_t conversation);

    // Reads the news of the company's changed conversations and tells its operator streams; one
    // reading at a time per company, changes meanwhile gathered into the next.
    void QueueNews(std::int64_t company, std::int32_t conversation);
    void TellNews(std::int64_t company);
    // Starts the stream: watched first, then filled, so that no change falls in between; a
    // wake before the fill is read after it.
    void Start(const std::shared_ptr<EventStream>& stream);
    // Every step: the comments of the streams whose slot it is.
    void KeepAliveStep(std::int64_t step);
    // Once a second: visitors heard from, failed reads tried again, stalled streams cut.
    void Tick();
    // Gives memory back to the system once streams have let much of it go.
    void TrimAfterRelease();
    void Loop();

    Storage& storage_;
    std::int64_t touchEvery_;  // seconds between marks of a held stream's visitor as heard
    StreamHub hub_;
    StreamBudget budget_;
    std::size_t budgetPeak_ = 0;  // the most the budget held since memory was last trimmed
    std::int64_t trimmedTick_ = 0;
    std::mutex mutex_;
    std::vector<std::shared_ptr<EventStream>> streams_;                     // until each ends
    std::unordered_map<std::string, std::weak_ptr<EventStream>> sessions_;  // operator streams
    struct CompanyNews {
        std::set<std::int32_t> changed;
        bool reading = false;
    };
    std::unordered_map<std::int64_t, CompanyNews> news_;
    std::int64_t ticks_ = 0;
    std::int64_t steps_ = 0;
    std::int64_t started_ = 0;  // streams started, for their keep-alive slots
    bool stopping_ = false;
    std::condition_variable stop_;
    std::thread timer_;
    // Last, so that it is stopped first: its jobs use everything above.
    WorkerPool workers_{4};
};

}  // namespace tertulia
