#pragma once

#include <optional>
#include <string>

#include "session/attention_signals.h"
#include "session/settings_store.h"

namespace tertulia {

// One value of the per-user settings file: its section and its key.
struct SettingKey {
    const char* section;
    const char* name;
};

// Every value the console reads or writes, in one place.
inline constexpr SettingKey kIdEmpresa{"General", "IdEmpresa"};  // the last company code
inline constexpr SettingKey kMarca{"Avisos", "Marca"};
inline constexpr SettingKey kBandeja{"Avisos", "Bandeja"};
inline constexpr SettingKey kNotificaciones{"Avisos", "Notificaciones"};
inline constexpr SettingKey kSonido{"Avisos", "Sonido"};
inline constexpr SettingKey kServiceUrl{"Servicio", "URL"};
inline constexpr SettingKey kReconectar{"Servicio", "Reconectar"};
inline constexpr SettingKey kEventos{"Servicio", "Eventos"};
// The console's own key, made once (see ConsoleKey).
inline constexpr SettingKey kConsola{"Servicio", "Consola"};

// What the console takes from the settings file when it is created. Every switch is on when its
// value is missing and off only for "0".
struct ConsoleSettings {
    std::string idEmpresa;  // empty when none is stored
    AttentionSwitches switches;
    bool reconectar = true;  // the automatic login after the service was lost
    bool eventos = true;     // the service's event stream, which brings the polls forward
};

ConsoleSettings ReadConsoleSettings(SettingsStore& store);

inline std::optional<std::string> Read(SettingsStore& store, SettingKey key) {
    return store.Read(key.section, key.name);
}
inline void Write(SettingsStore& store, SettingKey key, const std::string& value) {
    store.Write(key.section, key.name, value);
}

}  // namespace tertulia
