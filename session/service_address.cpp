#include "session/service_address.h"

#include <string_view>

#include "http/ascii_text.h"

namespace tertulia {

namespace {

std::string Cleaned(std::string_view value) {
    value = TrimBlanks(value);
    while (!value.empty() && value.back() == '/') value.remove_suffix(1);
    return std::string(value);
}

}  // namespace

std::string ChooseServiceUrl(const std::optional<std::string>& fromSettings,
                             const char* fromEnvironment, const std::string& builtIn) {
    if (fromSettings) {
        std::string url = Cleaned(*fromSettings);
        if (!url.empty()) return url;
    }
    if (fromEnvironment != nullptr) {
        std::string url = Cleaned(fromEnvironment);
        if (!url.empty()) return url;
    }
    return Cleaned(builtIn);
}

}  // namespace tertulia
