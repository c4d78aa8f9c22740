#include "session/console_settings.h"

namespace tertulia {

ConsoleSettings ReadConsoleSettings(SettingsStore& store) {
    const auto on = [&store](SettingKey key) {
        const std::optional<std::string> value = Read(store, key);
        return !value || *value != "0";
    };
    ConsoleSettings settings;
    settings.idEmpresa = Read(store, kIdEmpresa).value_or("");
    settings.switches = {on(kMarca), on(kBandeja), on(kNotificaciones), on(kSonido)};
    settings.reconectar = on(kReconectar);
    settings.eventos = on(kEventos);
    return settings;
}

}  // namespace tertulia
