#include "session/console_key.h"

#include <cstdint>
#include <optional>
#include <random>

#include "protocol/service_protocol.h"
#include "session/console_settings.h"

namespace tertulia {

std::string NewConsoleKey() {
    std::random_device random;  // the system's own source, not a seeded generator
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string key;
    for (int word = 0; word < 4; ++word) {
        std::uint32_t bits = random();
        for (int digit = 0; digit < 8; ++digit, bits >>= 4) key += kDigits[bits & 0xF];
    }
    return key;
}

std::string ConsoleKey(SettingsStore& store, const std::function<std::string()>& make) {
    if (const std::optional<std::string> stored = Read(store, kConsola);
        stored && IsConsoleKey(*stored)) {
        return *stored;
    }
    std::string key = make();
    Write(store, kConsola, key);
    return key;
}

}  // namespace tertulia
