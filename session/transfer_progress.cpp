#include "session/transfer_progress.h"

#include <algorithm>
#include <string>

namespace tertulia {

TransferProgress::TransferProgress(HttpClient& http, ConsoleView& view) : http_(http), view_(view) {
    http_.OnWorkBegin = [this](TWorkMode mode, std::int32_t max) { HTTP1WorkBegin(mode, max); };
    http_.OnWork = [this](TWorkMode mode, std::int32_t count) { HTTP1Work(mode, count); };
    http_.OnWorkEnd = [this](TWorkMode mode) { HTTP1WorkEnd(mode); };
}

TransferProgress::~TransferProgress() {
    http_.OnWorkBegin = nullptr;
    http_.OnWork = nullptr;
    http_.OnWorkEnd = nullptr;
}

void TransferProgress::HTTP1WorkBegin(TWorkMode, std::int32_t workCountMax) {
    gaugeMax_ = workCountMax;
    view_.SetGauge(gaugeMax_, 0);
    if (workCountMax > 0) view_.SetStatusText("Transfiriendo : " + std::to_string(workCountMax));
}

void TransferProgress::HTTP1Work(TWorkMode, std::int32_t workCount) {
    if (gaugeMax_ <= 0) {
        view_.SetStatusText(std::to_string(workCount) + " bytes.");
        return;
    }
    view_.SetStatusText(std::to_string(workCount) + " bytes de " + std::to_string(gaugeMax_) +
                        " bytes.");
    view_.SetGauge(gaugeMax_, std::clamp(workCount, 0, gaugeMax_));
}

void TransferProgress::HTTP1WorkEnd(TWorkMode) {
    view_.SetStatusText("Ok");
}

}  // namespace tertulia
