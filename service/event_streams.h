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
#include "service/worker_pool.h"

namespace tertulia {

class EventStream;

// The Server-Sent Events that the service pushes. A visitor's stream carries its
// conversation's lines ("mensaje", with the line's number in the conversation as its id) and its
// end ("cerrada"); an operator's stream carries "noticias" (ID:COUNT) whenever a conversation of
// the company opens, gets a line or closes. A change wakes its conversation's streams
// (StreamHub), and a woken stream reads what is new on a worker of its own pool and appends it;
// the company's news of the change is read once, on that pool, and appended to every operator
// stream of the company, however many there are. A comment every
// 20 s keeps each stream alive, and a held stream keeps its visitor heard from, or its operator's
// session alive.
class EventStreams {
  public:
    static constexpr std::chrono::seconds kKeepAlive{20};

    // `silenceSeconds`: after how long a silent visitor's conversation is closed (0: never).
    EventStreams(Storage& storage, unsigned silenceSeconds);
    ~EventStreams();
    EventStreams(const EventStreams&) = delete;
    EventStreams& operator=(const EventStreams&) = delete;

    // The stream of conversation `idText` for the token of `query`, from the line after
    // `lastEventId` (all lines when it is not a number); null when there is no such
    // conversation for that token.
    std::shared_ptr<ReplyStream> Visitor(std::string_view idText, std::string_view query,
                                         std::string_view lastEventId);
    // The stream of the operator's session of `query` (idempresa, idsesion, in Windows-1252),
    // which ends a stream the session held before; null when the session is unknown or lapsed.
    std::shared_ptr<ReplyStream> Operator(std::string_view query);

    // The streams held open now.
    struct Held {
        std::size_t visitors = 0;
        std::size_t operators = 0;
    };
    Held Count();

  private:
    // Reads the news of the company's changed conversations and tells its operator streams; one
    // reading at a time per company, changes meanwhile gathered into the next.
    void QueueNews(std::int64_t company, std::int32_t conversation);
    void TellNews(std::int64_t company);
    // Starts the stream: watched first, then filled, so that no change falls in between.
    void Start(const std::shared_ptr<EventStream>& stream);
    // Once a second: keep-alives, visitors heard from, sessions kept, failed reads tried again.
    void Tick();
    void Loop();

    Storage& storage_;
    std::int64_t touchEvery_;  // seconds between marks of a held stream's visitor as heard
    StreamHub hub_;
    WorkerPool workers_{4};
    std::mutex mutex_;
    std::vector<std::shared_ptr<EventStream>> streams_;                     // until each ends
    std::unordered_map<std::string, std::weak_ptr<EventStream>> sessions_;  // operator streams
    struct CompanyNews {
        std::set<std::int32_t> changed;
        bool reading = false;
    };
    std::unordered_map<std::int64_t, CompanyNews> news_;
    std::int64_t ticks_ = 0;
    bool stopping_ = false;
    std::condition_variable stop_;
    std::thread timer_;
};

}  // namespace tertulia
