#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tertulia {

// The per-user settings store. Both operations throw std::runtime_error when the store cannot
// be read or written.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    virtual std::optional<std::string> Read(const std::string& section,
                                            const std::string& name) = 0;
    virtual void Write(const std::string& section, const std::string& name,
                       const std::string& value) = 0;
};

// Opens the per-user settings store; throws std::runtime_error when it cannot.
using SettingsOpener = std::function<std::unique_ptr<SettingsStore>()>;

}  // namespace tertulia
