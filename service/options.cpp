#include "service/options.h"

#include <charconv>
#include <stdexcept>

namespace tertulia {

namespace {

class Arguments {
  public:
    explicit Arguments(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    bool Done() const { return next_ >= arguments_.size(); }
    const std::string& Take() { return arguments_[next_++]; }
    std::string ValueOf(const std::string& option) {
        if (Done()) throw std::runtime_error("falta el valor de " + option);
        return Take();
    }

  private:
    const std::vector<std::string>& arguments_;
    std::size_t next_ = 0;
};

void SetOnce(std::string& target, const std::string& option, std::string value) {
    if (!target.empty()) throw std::runtime_error(option + " aparece más de una vez");
    if (value.empty()) throw std::runtime_error("el valor de " + option + " está vacío");
    target = std::move(value);
}

void SetOnce(std::optional<std::string>& target, const std::string& option, std::string value) {
    if (target) throw std::runtime_error(option + " aparece más de una vez");
    target = std::move(value);
}

void ParseListen(ServeCommand& command, const std::string& value) {
    const std::size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        throw std::runtime_error("--listen espera HOST:PUERTO, no «" + value + "»");
    }
    std::string host = value.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string portText = value.substr(colon + 1);
    int port = -1;
    const auto [end, error] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || error != std::errc() || end != portText.data() + portText.size() ||
        port < 0 || port > 65535) {
        throw std::runtime_error("puerto no válido en --listen: «" + portText + "»");
    }
    command.host = host;
    command.port = port;
}

Command ParseServe(Arguments& arguments) {
    ServeCommand command;
    bool listenSeen = false;
    while (!arguments.Done()) {
        const std::string option = arguments.Take();
        if (option == "--listen") {
            if (listenSeen) throw std::runtime_error("--listen aparece más de una vez");
            listenSeen = true;
            ParseListen(command, arguments.ValueOf(option));
        } else if (option == "--db") {
            SetOnce(command.database, option, arguments.ValueOf(option));
        } else if (option == "--update-file") {
            SetOnce(command.updateFile, option, arguments.ValueOf(option));
        } else if (option == "--update-version") {
            SetOnce(command.updateVersion, option, arguments.ValueOf(option));
        } else if (option == "--help" || option == "-h") {
            return HelpCommand{};
        } else {
            throw std::runtime_error("opción desconocida «" + option + "»");
        }
    }
    if (command.updateFile.has_value() != command.updateVersion.has_value()) {
        throw std::runtime_error("--update-file y --update-version van juntas");
    }
    return command;
}

Command ParseAddCompany(Arguments& arguments) {
    AddCompanyCommand command;
    std::vector<std::string> positional;
    while (!arguments.Done()) {
        const std::string argument = arguments.Take();
        if (argument == "--db") {
            SetOnce(command.database, argument, arguments.ValueOf(argument));
        } else if (argument == "--help" || argument == "-h") {
            return HelpCommand{};
        } else if (argument.starts_with("--")) {
            throw std::runtime_error("opción desconocida «" + argument + "»");
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.size() != 2) {
        throw std::runtime_error("add-company espera CÓDIGO y CONTRASEÑA");
    }
    command.code = positional[0];
    command.password = positional[1];
    if (!ValidCompanyCode(command.code)) {
        throw std::runtime_error(
            "el código de empresa admite de 1 a 60 letras, dígitos, «.», «_» y «-»");
    }
    if (command.password.empty()) throw std::runtime_error("la contraseña está vacía");
    return command;
}

}  // namespace

Command ParseCommandLine(const std::vector<std::string>& arguments) {
    Arguments reader(arguments);
    if (!arguments.empty() && arguments[0] == "add-company") {
        reader.Take();
        return ParseAddCompany(reader);
    }
    return ParseServe(reader);
}

std::string DefaultDatabasePath(const char* xdgDataHome, const char* home) {
    std::string base;
    if (xdgDataHome && xdgDataHome[0] == '/') {
        base = xdgDataHome;
    } else {
        base = std::string(home && home[0] ? home : ".") + "/.local/share";
    }
    return base + "/tertulia/service.db";
}

bool ValidCompanyCode(const std::string& code) {
    if (code.empty() || code.size() > 60) return false;
    for (const char c : code) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::string UsageText() {
    return R"(Uso:
  tertulia-service [--listen HOST:PUERTO] [--db ARCHIVO]
                   [--update-file ARCHIVO --update-version V.R]
  tertulia-service add-company CÓDIGO CONTRASEÑA [--db ARCHIVO]
  tertulia-service --help

Servicio de chat para la consola Tertulia y página de chat para los visitantes.

  --listen HOST:PUERTO   dirección donde escucha (por omisión 127.0.0.1:8080;
                         el puerto 0 elige uno libre)
  --db ARCHIVO           base de datos SQLite (por omisión
                         $XDG_DATA_HOME/tertulia/service.db, o
                         ~/.local/share/tertulia/service.db)
  --update-file ARCHIVO  ofrece este archivo como nueva versión de la consola a
  --update-version V.R   las consolas de versión y revisión anteriores a V.R

Rutas:
  /                       página de chat para los visitantes (/?empresa=CÓDIGO
                          rellena la empresa)
  /tertulia.php           guion de servicio de la consola (do_login, get_news,
                          getchat, dropclt)
  /gl/chkupdate.php       guion de actualización de la consola
  /api/conversaciones     API JSON de los visitantes

add-company registra una empresa con su contraseña de chat (la que el operador
escribe en la consola). Si la base de datos no tiene ninguna empresa, el
servicio crea al arrancar la empresa «demo» con la contraseña «demo».
)";
}

}  // namespace tertulia
