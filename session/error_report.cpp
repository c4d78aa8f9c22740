#include "session/error_report.h"

namespace tertulia {

std::string ApplicationErrorText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

std::string ConsoleErrorText(const std::string& message) {
    return "ERROR : \n" + message;
}

}  // namespace tertulia
