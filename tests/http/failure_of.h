#pragma once

#include <exception>
#include <string>

#include "http/http_client.h"

namespace tertulia::test {

// The message of the failure that GetText throws for `url`, or "(no failure)".
inline std::string FailureOf(HttpClient& client, const std::string& url) {
    try {
        client.GetText(url);
    } catch (const std::exception& failure) {
        return failure.what();
    }
    return "(no failure)";
}

}  // namespace tertulia::test
