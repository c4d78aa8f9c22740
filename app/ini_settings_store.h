#pragma once

#include <QSettings>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "session/settings_store.h"

namespace tertulia {

// The per-user settings: an INI file through QSettings.
class IniSettingsStore : public SettingsStore {
  public:
    // The user's own file (organisation "Grupo Laredo", application "Tertulia"); throws
    // std::runtime_error when it cannot be both read and written.
    static std::unique_ptr<IniSettingsStore> Open();
    // The same for a file of the caller's choosing.
    static std::unique_ptr<IniSettingsStore> Open(const QString& fileName);

    // A value of the user's own file; nothing when it is missing or the file cannot be read
    // (the console reports such a file itself when it reads the company code).
    static std::optional<std::string> ReadIfPossible(const std::string& section,
                                                     const std::string& name);

    IniSettingsStore();
    explicit IniSettingsStore(const QString& fileName);

    std::optional<std::string> Read(const std::string& section, const std::string& name) override;
    void Write(const std::string& section, const std::string& name,
               const std::string& value) override;

    QString FileName() const { return settings_.fileName(); }

  private:
    static std::unique_ptr<IniSettingsStore> Checked(std::unique_ptr<IniSettingsStore> store);

    QSettings settings_;
};

}  // namespace tertulia
