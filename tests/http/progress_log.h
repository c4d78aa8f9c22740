#pragma once

#include <string>
#include <vector>

#include "http/http_client.h"

namespace tertulia::test {

// Records the client's progress events as "Begin N", "Work N" and "End".
struct ProgressLog {
    std::vector<std::string> events;

    void Attach(HttpClient& client) {
        client.OnWorkBegin = [this](TWorkMode mode, std::int32_t max) {
            events.push_back(Prefix(mode) + "Begin " + std::to_string(max));
        };
        client.OnWork = [this](TWorkMode mode, std::int32_t count) {
            events.push_back(Prefix(mode) + "Work " + std::to_string(count));
        };
        client.OnWorkEnd = [this](TWorkMode mode) { events.push_back(Prefix(mode) + "End"); };
    }

  private:
    static std::string Prefix(TWorkMode mode) { return mode == TWorkMode::wmRead ? "" : "write "; }
};

}  // namespace tertulia::test
