#pragma once

#include <string>
#include <string_view>

namespace tertulia {

// Why the service did not store a line, from its reply to the send: an "ERROR" reply whole;
// otherwise the transcript's last line, the service's notice, without its author's name.
std::string MotivoLineaNoGuardada(std::string_view reply);

}  // namespace tertulia
