#pragma once

#include <string>

namespace tertulia {

// The console's login as the requests of its conversations use it, read afresh for each.
class ConsoleLogin {
  public:
    virtual ~ConsoleLogin() = default;
    virtual std::string CodigoEmpresa() const = 0;  // the text of edCodigoEmpresa now
    virtual std::string IdSesion() const = 0;
};

}  // namespace tertulia
