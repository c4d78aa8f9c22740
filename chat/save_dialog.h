#pragma once

#include <optional>
#include <string>

namespace tertulia {

// The shared save dialog SaveDialog1: the chosen file name, or nothing when cancelled. It asks
// before replacing an existing file.
class SaveDialog {
  public:
    virtual ~SaveDialog() = default;
    virtual std::optional<std::string> Execute() = 0;
};

}  // namespace tertulia
