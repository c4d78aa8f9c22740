#pragma once

#include <cstdint>

#include "http/http_client.h"
#include "session/console_view.h"

namespace tertulia {

// The console's gauge and status line during every request of its HTTP client, the
// conversation windows' included. The handlers do not look at the work mode.
class TransferProgress {
  public:
    TransferProgress(HttpClient& http, ConsoleView& view);
    ~TransferProgress();
    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

    void HTTP1WorkBegin(TWorkMode mode, std::int32_t workCountMax);
    void HTTP1Work(TWorkMode mode, std::int32_t workCount);
    void HTTP1WorkEnd(TWorkMode mode);

  private:
    HttpClient& http_;
    ConsoleView& view_;
    std::int32_t gaugeMax_ = 1000;
};

}  // namespace tertulia
