#pragma once

#include <stdexcept>

namespace tertulia {

// A request that the service refuses; what() is the Spanish reason given to the caller, UTF-8.
class BadRequest : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace tertulia
