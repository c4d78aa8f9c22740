#include "http/work_progress.h"

#include <algorithm>
#include <limits>

namespace tertulia {

namespace {

std::int32_t Clamped(std::int64_t count) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(count, 0, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

void WorkProgress::Begin(TWorkMode mode, std::int64_t announced, const WorkHandlers& handlers) {
    ModeRecord& record = Record(mode);
    if (++record.level != 1) return;
    record.count = 0;
    record.maximum = announced;
    if (handlers.begin) handlers.begin(mode, Clamped(announced));
}

void WorkProgress::Work(TWorkMode mode, std::int64_t taken, const WorkHandlers& handlers) {
    ModeRecord& record = Record(mode);
    if (record.level <= 0) return;
    record.count += taken;
    if (handlers.work) handlers.work(mode, Clamped(record.count));
}

void WorkProgress::End(TWorkMode mode, const WorkHandlers& handlers) {
    ModeRecord& record = Record(mode);
    if (record.level == 1 && handlers.end) {
        record.level = 0;
        handlers.end(mode);
        return;
    }
    if (record.level > 0) --record.level;
}

}  // namespace tertulia
