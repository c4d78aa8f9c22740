#pragma once

#include <optional>
#include <string>

namespace tertulia {

// The environment variable that names the service when the settings file does not.
inline constexpr const char* kServiceUrlVariable = "TERTULIA_SERVICE_URL";

// The chat service's address for this run: the settings file's, else the environment's, else
// the one built in. A value that is empty or only blanks counts as none; blanks around a value
// and slashes at its end are dropped, since every request's path is appended to it.
std::string ChooseServiceUrl(const std::optional<std::string>& fromSettings,
                             const char* fromEnvironment, const std::string& builtIn);

}  // namespace tertulia
