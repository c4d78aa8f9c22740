#include "session/service_address.h"

#include <gtest/gtest.h>

namespace tertulia {
namespace {

constexpr const char* kBuiltIn = "http://localhost:8080";

TEST(ServiceAddressTest, SettingsThenEnvironmentThenBuiltIn) {
    struct Row {
        const char* proves;
        std::optional<std::string> settings;
        const char* environment;
        const char* expected;
    };
    const Row rows[] = {
        {"nothing set: built in", std::nullopt, nullptr, kBuiltIn},
        {"environment over built in", std::nullopt, "https://chat.example.test",
         "https://chat.example.test"},
        {"settings over environment", "https://own.example.test:8443", "https://env.example.test",
         "https://own.example.test:8443"},
        {"empty setting counts as none", "", "https://env.example.test",
         "https://env.example.test"},
        {"blank setting and empty environment count as none", "  \t", "", kBuiltIn},
        {"blanks and end slashes dropped", " https://own.example.test/chat// ", nullptr,
         "https://own.example.test/chat"},
        {"plain http kept as written", "http://10.0.0.5:8080", nullptr, "http://10.0.0.5:8080"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ChooseServiceUrl(row.settings, row.environment, kBuiltIn), row.expected)
            << row.proves;
    }
}

}  // namespace
}  // namespace tertulia
