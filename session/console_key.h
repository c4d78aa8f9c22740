#pragma once

#include <functional>
#include <string>

#include "session/settings_store.h"

namespace tertulia {

// A new console key: 128 random bits as 32 lower-case hexadecimal digits.
std::string NewConsoleKey();

// The console's key from the settings; one is made with `make` and stored there when the
// settings hold none (or something else), so that the console keeps it across its runs and
// crashes. Throws as the store does.
std::string ConsoleKey(SettingsStore& store,
                       const std::function<std::string()>& make = NewConsoleKey);

}  // namespace tertulia
