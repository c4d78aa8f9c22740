#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace tertulia {

// Something held open that a change may concern: an event stream.
class Wakeable {
  public:
    virtual ~Wakeable() = default;
    // Called from any thread; must only schedule work, never wait for it.
    virtual void Wake() = 0;
};

// Who is to be woken at a change: the streams of each conversation and of each company. It
// holds them weakly, so a stream that ends simply stops being found.
class StreamHub {
  public:
    void WatchConversation(std::int32_t conversation, std::weak_ptr<Wakeable> stream);
    void WatchCompany(std::int64_t company, std::weak_ptr<Wakeable> stream);
    // A conversation got a line or closed: its streams are woken.
    void Changed(std::int32_t conversation);
    // The live streams that watch the conversation.
    std::vector<std::shared_ptr<Wakeable>> ConversationStreams(std::int32_t conversation);
    // The live streams that watch the company.
    std::vector<std::shared_ptr<Wakeable>> CompanyStreams(std::int64_t company);
    // Anything may have changed.
    void ChangedAll();
    // Forgets the streams that have ended.
    void Sweep();

  private:
    using Watchers = std::vector<std::weak_ptr<Wakeable>>;
    // The live watchers of `key`, with the ended ones (and an emptied key) dropped.
    template <typename Key>
    static void Collect(std::unordered_map<Key, Watchers>& map, const Key& key,
                        std::vector<std::shared_ptr<Wakeable>>& out);

    std::mutex mutex_;
    std::unordered_map<std::int32_t, Watchers> conversations_;
    std::unordered_map<std::int64_t, Watchers> companies_;
};

}  // namespace tertulia
