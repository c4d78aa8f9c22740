#pragma once

#include <microhttpd.h>

#include <atomic>
#include <cstddef>

#include "service/http_server.h"

namespace tertulia {

// Replies whose body is whole, as the HTTP library's responses, without their headers.
struct WholeResponse {
    MHD_Response* response = nullptr;  // null when it could not be made, or is refused
    std::size_t bytes = 0;             // of the body
    bool refused = false;              // past the budget of unsent replies
};

// Part of shared bytes is sent from where it is; any other body is moved into the response. A
// body larger than `largeBytes` counts against `unsent` until the library frees it, and is
// refused when that would pass `unsentCap`.
WholeResponse MakeWholeResponse(HttpReply& reply, std::size_t largeBytes,
                                std::atomic<std::size_t>& unsent, std::size_t unsentCap);

}  // namespace tertulia
