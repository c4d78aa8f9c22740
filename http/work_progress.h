#pragma once

#include <cstdint>
#include <functional>

namespace tertulia {

enum class TWorkMode { wmRead, wmWrite };

// Handlers that the client calls while it moves body bytes.
struct WorkHandlers {
    std::function<void(TWorkMode, std::int32_t)> begin;
    std::function<void(TWorkMode, std::int32_t)> work;
    std::function<void(TWorkMode)> end;
};

// Per work mode: how many transfer brackets are open, the announced maximum and the running
// count. Only the outermost bracket raises begin and end.
class WorkProgress {
  public:
    void Begin(TWorkMode mode, std::int64_t announced, const WorkHandlers& handlers);
    void Work(TWorkMode mode, std::int64_t taken, const WorkHandlers& handlers);
    void End(TWorkMode mode, const WorkHandlers& handlers);

    int Level(TWorkMode mode) const { return Record(mode).level; }
    std::int64_t Count(TWorkMode mode) const { return Record(mode).count; }

  private:
    struct ModeRecord {
        int level = 0;
        std::int64_t maximum = 0;
        std::int64_t count = 0;
    };
    ModeRecord& Record(TWorkMode mode) { return mode == TWorkMode::wmRead ? read_ : write_; }
    const ModeRecord& Record(TWorkMode mode) const {
        return mode == TWorkMode::wmRead ? read_ : write_;
    }

    ModeRecord read_;
    ModeRecord write_;
};

}  // namespace tertulia
