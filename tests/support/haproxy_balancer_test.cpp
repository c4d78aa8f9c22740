#include "tests/support/haproxy_balancer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "http/http_client.h"
#include "tests/http/script_server.h"
#include "tests/support/daemon_process.h"

namespace tertulia::test {
namespace {

using namespace std::chrono_literals;

constexpr int kRequests = 6;

// A backend that answers each of `requests` connections with its own name.
std::unique_ptr<ScriptServer> NamedBackend(const std::string& name, int requests) {
    auto backend = std::make_unique<ScriptServer>();
    for (int i = 0; i < requests; ++i) {
        backend->AddConnection(
            {ReadRequest(),
             Send(Reply("HTTP/1.1 200 OK",
                        {"Content-Length: " + std::to_string(name.size()), "Connection: close"},
                        name)),
             Close()});
    }
    return backend;
}

std::vector<std::string> Bodies(const HaproxyBalancer& balancer) {
    std::vector<std::string> bodies;
    HttpClient client;
    client.SetConnectTimeout(5s);
    client.SetReadTimeout(5s);
    for (int i = 0; i < kRequests; ++i) bodies.push_back(client.GetText(balancer.Url() + "/"));
    return bodies;
}

TEST(HaproxyBalancerTest, AlternatesBetweenTwoBackends) {
    const auto first = NamedBackend("A", kRequests);
    const auto second = NamedBackend("B", kRequests);
    const HaproxyBalancer balancer({first->Port(), second->Port()});
    if (!balancer.Running()) GTEST_SKIP() << balancer.Error();

    const std::vector<std::string> bodies = Bodies(balancer);
    for (int i = 1; i < kRequests; ++i) {
        EXPECT_NE(bodies[i], bodies[i - 1]) << "request " << i << " went to the same backend";
    }
    EXPECT_EQ(first->ConnectionsAccepted(), kRequests / 2);
    EXPECT_EQ(second->ConnectionsAccepted(), kRequests / 2);
}

TEST(HaproxyBalancerTest, ABackendThatRefusesLeavesEveryRequestToTheOther) {
    const auto alive = NamedBackend("A", kRequests);
    const HaproxyBalancer balancer({alive->Port(), FreeLoopbackPort()});
    if (!balancer.Running()) GTEST_SKIP() << balancer.Error();

    EXPECT_EQ(Bodies(balancer), std::vector<std::string>(kRequests, "A"));
}

}  // namespace
}  // namespace tertulia::test
