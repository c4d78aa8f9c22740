#pragma once

#include <QSettings>
#include <QString>
#include <optional>
#include <string>

#include "session/console_view.h"

namespace tertulia {

// The per-user settings: an INI file through QSettings.
class IniSettingsStore : public SettingsStore {
  public:
    // The user's own file (organisation "Grupo Laredo", application "Tertulia").
    IniSettingsStore();
    // A file of the caller's choosing.
    explicit IniSettingsStore(const QString& fileName);

    std::optional<std::string> Read(const std::string& section, const std::string& name) override;
    void Write(const std::string& section, const std::string& name,
               const std::string& value) override;

    QString FileName() const { return settings_.fileName(); }

  private:
    QSettings settings_;
};

}  // namespace tertulia
