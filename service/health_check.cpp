#include "service/health_check.h"

#include "service/http_replies.h"

namespace tertulia {

HttpReply HealthReply(Storage& storage, std::chrono::steady_clock::time_point arrived) {
    // Through a worker and the pool of connections like any request, so that a full pool or
    // every worker waiting shows as well as a database that does not answer. The bound counts
    // from the arrival: a check that waited for a worker past it is answered at once, as its
    // balancer has stopped waiting.
    const DeadlineScope bound(arrived + kHealthBound);
    storage.Ping(kHealthBound);
    return UncachedReply(200, "OK", kPlainType);
}

}  // namespace tertulia
