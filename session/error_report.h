#pragma once

#include <string>

namespace tertulia {

// The text of the application's top-level error report for a failure's message: a full stop is
// appended when the last character's code is greater than that of the full stop (46).
std::string ApplicationErrorText(const std::string& message);

// The text of the console's error dialog for a failure caught at the top of its handlers.
std::string ConsoleErrorText(const std::string& message);

}  // namespace tertulia
