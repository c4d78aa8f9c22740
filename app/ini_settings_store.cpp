#include "app/ini_settings_store.h"

#include <QFileInfo>
#include <stdexcept>

#include "widgets/qt/windows_1252.h"

namespace tertulia {

namespace {

// QSettings writes the keys of its top level under "[General]" and escapes a group that is
// itself named "General"; so that section is the top level here.
QString KeyOf(const std::string& section, const std::string& name) {
    const QString key = ToQString(name);
    if (section == "General") return key;
    return ToQString(section) + QLatin1Char('/') + key;
}

std::string Describe(const QString& what, const QString& fileName) {
    return ToWindows1252(what + QStringLiteral(" ") + fileName);
}

}  // namespace

std::unique_ptr<IniSettingsStore> IniSettingsStore::Open() {
    return Checked(std::make_unique<IniSettingsStore>());
}

std::unique_ptr<IniSettingsStore> IniSettingsStore::Open(const QString& fileName) {
    return Checked(std::make_unique<IniSettingsStore>(fileName));
}

std::unique_ptr<IniSettingsStore> IniSettingsStore::Checked(
    std::unique_ptr<IniSettingsStore> store) {
    store->settings_.allKeys();  // reads the file now, so that a failure shows at once
    if (store->settings_.status() != QSettings::NoError) {
        throw std::runtime_error(
            Describe(QStringLiteral("Cannot read the settings file"), store->FileName()));
    }
    if (QFileInfo(store->FileName()).isDir() || !store->settings_.isWritable()) {
        throw std::runtime_error(
            Describe(QStringLiteral("Cannot write the settings file"), store->FileName()));
    }
    return store;
}

std::optional<std::string> IniSettingsStore::ReadIfPossible(const std::string& section,
                                                            const std::string& name) {
    try {
        return IniSettingsStore().Read(section, name);
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

IniSettingsStore::IniSettingsStore()
    : settings_(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Grupo Laredo"),
                QStringLiteral("Tertulia")) {}

IniSettingsStore::IniSettingsStore(const QString& fileName)
    : settings_(fileName, QSettings::IniFormat) {}

std::optional<std::string> IniSettingsStore::Read(const std::string& section,
                                                  const std::string& name) {
    const QVariant value = settings_.value(KeyOf(section, name));
    if (settings_.status() != QSettings::NoError) {
        throw std::runtime_error(
            Describe(QStringLiteral("Cannot read the settings file"), settings_.fileName()));
    }
    if (!value.isValid()) return std::nullopt;
    return ToWindows1252(value.toString());
}

void IniSettingsStore::Write(const std::string& section, const std::string& name,
                             const std::string& value) {
    const QFileInfo file(settings_.fileName());
    if (file.isDir() || !settings_.isWritable()) {
        throw std::runtime_error(
            Describe(QStringLiteral("Cannot write the settings file"), settings_.fileName()));
    }
    settings_.setValue(KeyOf(section, name), ToQString(value));
    settings_.sync();
    if (settings_.status() != QSettings::NoError) {
        throw std::runtime_error(
            Describe(QStringLiteral("Cannot write the settings file"), settings_.fileName()));
    }
}

}  // namespace tertulia
