#pragma once

#include <exception>
#include <string>

namespace tertulia {

// Why a request failed, in plain Spanish words for the texts of our own (notifications, the
// tray's tip): a socket failure is named in words instead of by its Windows Sockets number.
// Windows-1252 bytes, lower case, no full stop.
std::string FailureInWords(const std::exception& failure);

}  // namespace tertulia
