#include "service/stream_hub.h"

namespace tertulia {

namespace {

template <typename Map>
void SweepMap(Map& map) {
    for (auto it = map.begin(); it != map.end();) {
        std::erase_if(it->second, [](const auto& watcher) { return watcher.expired(); });
        it = it->second.empty() ? map.erase(it) : std::next(it);
    }
}

template <typename Map>
void LiveIn(const Map& map, std::vector<std::shared_ptr<Wakeable>>& out) {
    for (const auto& [key, watchers] : map) {
        for (const auto& watcher : watchers) {
            if (auto stream = watcher.lock()) out.push_back(std::move(stream));
        }
    }
}

}  // namespace

void StreamHub::WatchConversation(std::int32_t conversation, std::weak_ptr<Wakeable> stream) {
    std::lock_guard lock(mutex_);
    conversations_[conversation].push_back(std::move(stream));
}

void StreamHub::WatchCompany(std::int64_t company, std::weak_ptr<Wakeable> stream) {
    std::lock_guard lock(mutex_);
    companies_[company].push_back(std::move(stream));
}

template <typename Key>
void StreamHub::Collect(std::unordered_map<Key, Watchers>& map, const Key& key,
                        std::vector<std::shared_ptr<Wakeable>>& out) {
    const auto it = map.find(key);
    if (it == map.end()) return;
    std::erase_if(it->second, [&](const std::weak_ptr<Wakeable>& watcher) {
        auto stream = watcher.lock();
        if (!stream) return true;
        out.push_back(std::move(stream));
        return false;
    });
    if (it->second.empty()) map.erase(it);
}

std::vector<std::shared_ptr<Wakeable>> StreamHub::ConversationStreams(std::int32_t conversation) {
    std::vector<std::shared_ptr<Wakeable>> live;
    std::lock_guard lock(mutex_);
    Collect(conversations_, conversation, live);
    return live;
}

std::vector<std::shared_ptr<Wakeable>> StreamHub::CompanyStreams(std::int64_t company) {
    std::vector<std::shared_ptr<Wakeable>> live;
    std::lock_guard lock(mutex_);
    Collect(companies_, company, live);
    return live;
}

void StreamHub::Changed(std::int32_t conversation) {
    std::vector<std::shared_ptr<Wakeable>> woken;
    {
        std::lock_guard lock(mutex_);
        Collect(conversations_, conversation, woken);
    }
    // Woken outside the lock: a stream's own lock is never taken inside the hub's.
    for (const auto& stream : woken) stream->Wake();
}

void StreamHub::ChangedAll() {
    std::vector<std::shared_ptr<Wakeable>> woken;
    {
        std::lock_guard lock(mutex_);
        LiveIn(conversations_, woken);
        LiveIn(companies_, woken);
    }
    for (const auto& stream : woken) stream->Wake();
}

void StreamHub::Sweep() {
    std::lock_guard lock(mutex_);
    SweepMap(conversations_);
    SweepMap(companies_);
}

}  // namespace tertulia
