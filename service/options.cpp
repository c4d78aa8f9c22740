#include "service/options.h"

#include <charconv>
#include <functional>
#include <limits>
#include <stdexcept>

#include "service/charset.h"
#include "service/client_address.h"
#include "service/company_setup.h"
#include "service/web_origin.h"

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

ListenAddress ParseListen(const std::string& option, const std::string& value) {
    const std::size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        throw std::runtime_error(option + " espera HOST:PUERTO, no «" + value + "»");
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
        throw std::runtime_error("puerto no válido en " + option + ": «" + portText + "»");
    }
    return {host, port};
}

// A whole number from `least` to `most`.
std::size_t NumberOf(const std::string& option, const std::string& text, std::size_t least,
                     std::size_t most) {
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < least ||
        value > most) {
        throw std::runtime_error(option + " espera un número entero de " + std::to_string(least) +
                                 " a " + std::to_string(most) + ", no «" + text + "»");
    }
    return value;
}

// The numeric limits, each by its option name; false when `option` is none of them.
bool ParseLimit(ServeCommand& command, const std::string& option, Arguments& arguments) {
    constexpr std::size_t kMany = std::numeric_limits<unsigned>::max();
    struct Limit {
        const char* name;
        std::size_t least;
        std::size_t most;
        std::function<void(std::size_t)> set;
    };
    HttpLimits& http = command.http;
    VisitorLimits& visitors = command.visitors;
    const Limit limits[] = {
        {"--max-connections", 1, 1000000, [&](std::size_t v) { http.connections = v; }},
        {"--max-connections-per-address", 0, kMany,
         [&](std::size_t v) { http.connectionsPerAddress = v; }},
        {"--max-head-bytes", 4096, 1 << 20, [&](std::size_t v) { http.headBytes = v; }},
        {"--head-timeout", 1, 3600, [&](std::size_t v) { http.headSeconds = v; }},
        {"--idle-timeout", 1, 3600, [&](std::size_t v) { http.idleSeconds = v; }},
        {"--body-timeout", 1, 3600, [&](std::size_t v) { http.bodySeconds = v; }},
        {"--stream-buffer-bytes", 0, std::size_t{1} << 40,
         [&](std::size_t v) { http.streamBufferBytes = v; }},
        {"--conversations-per-address", 0, kMany,
         [&](std::size_t v) { visitors.conversationsPerAddress = v; }},
        {"--conversations-per-network", 0, kMany,
         [&](std::size_t v) { visitors.conversationsPerNetwork = v; }},
        {"--visitor-silence", 0, 86400, [&](std::size_t v) { visitors.silenceSeconds = v; }},
        {"--lines-per-address", 0, kMany, [&](std::size_t v) { visitors.linesPerAddress = v; }},
        {"--lines-per-conversation", 0, kMany,
         [&](std::size_t v) { visitors.perConversation.lines = v; }},
        {"--bytes-per-conversation", 0, std::size_t{1} << 40,
         [&](std::size_t v) { visitors.perConversation.bytes = v; }},
        {"--waiting-per-company", 0, kMany, [&](std::size_t v) { visitors.waitingPerCompany = v; }},
        {"--keep-days", 0, 36500, [&](std::size_t v) { command.keepDays = v; }},
        {"--owner-silence", 1, 86400, [&](std::size_t v) { command.ownerSilence = v; }},
        {"--database-timeout", 1, 3600, [&](std::size_t v) { command.databaseTimeout = v; }},
    };
    for (const Limit& limit : limits) {
        if (option != limit.name) continue;
        limit.set(NumberOf(option, arguments.ValueOf(option), limit.least, limit.most));
        return true;
    }
    return false;
}

Command ParseServe(Arguments& arguments) {
    ServeCommand command;
    bool listenSeen = false;
    while (!arguments.Done()) {
        const std::string option = arguments.Take();
        if (ParseLimit(command, option, arguments)) continue;
        if (option == "--demo") {
            command.demo = true;
        } else if (option == "--access-log") {
            SetOnce(command.accessLog, option, arguments.ValueOf(option));
        } else if (option == "--trusted-proxy") {
            const std::string value = arguments.ValueOf(option);
            const auto address = CanonicalAddress(value);
            if (!address) {
                throw std::runtime_error("--trusted-proxy espera una dirección IP, no «" + value +
                                         "»");
            }
            command.trustedProxies.insert(*address);
        } else if (option == "--listen") {
            if (listenSeen) throw std::runtime_error("--listen aparece más de una vez");
            listenSeen = true;
            const ListenAddress address = ParseListen(option, arguments.ValueOf(option));
            command.host = address.host;
            command.port = address.port;
        } else if (option == "--metrics-listen") {
            if (command.metrics) throw std::runtime_error(option + " aparece más de una vez");
            command.metrics = ParseListen(option, arguments.ValueOf(option));
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

// The words of a company command and its --db; nothing when --help was asked for.
std::optional<std::vector<std::string>> CompanyArguments(Arguments& arguments,
                                                         std::string& database) {
    std::vector<std::string> positional;
    while (!arguments.Done()) {
        const std::string argument = arguments.Take();
        if (argument == "--db") {
            SetOnce(database, argument, arguments.ValueOf(argument));
        } else if (argument == "--help" || argument == "-h") {
            return std::nullopt;
        } else if (argument.starts_with("--")) {
            throw std::runtime_error("opción desconocida «" + argument + "»");
        } else {
            positional.push_back(argument);
        }
    }
    if (!positional.empty() && !ValidCompanyCode(positional[0])) {
        throw std::runtime_error(
            "el código de empresa admite de 1 a 60 letras, dígitos, «.», «_» y «-»");
    }
    return positional;
}

// The company's name as its visitors see it: a line of up to 100 characters.
std::string CompanyName(const std::string& name) {
    constexpr std::size_t kMaxCompanyName = 100;
    const auto length = Utf8Length(name);
    if (!length) throw std::runtime_error("el nombre no es texto UTF-8 válido");
    if (*length > kMaxCompanyName) {
        throw std::runtime_error("el nombre es demasiado largo (más de 100 caracteres)");
    }
    if (HasControlCharacter(name)) {
        throw std::runtime_error("el nombre contiene caracteres de control");
    }
    return name;
}

Command ParseCompanyCommand(const std::string& name, Arguments& arguments) {
    std::string database;
    const auto words = CompanyArguments(arguments, database);
    if (!words) return HelpCommand{};
    if (name == "add-company") {
        if (words->empty() || words->size() > 2) {
            throw std::runtime_error("add-company espera CÓDIGO y, si se quiere, CONTRASEÑA");
        }
        AddCompanyCommand command{(*words)[0], std::nullopt, database};
        if (words->size() == 2) {
            if ((*words)[1].empty()) throw std::runtime_error("la contraseña está vacía");
            command.password = (*words)[1];
        }
        return command;
    }
    if (name == "allow-site" || name == "disallow-site") {
        if (words->size() != 2) throw std::runtime_error(name + " espera CÓDIGO y ORIGEN");
        const auto origin = SiteOrigin((*words)[1]);
        if (!origin) {
            throw std::runtime_error(
                "el origen se escribe como https://tienda.example (con "
                "puerto si no es el habitual, sin ruta), no «" +
                (*words)[1] + "»");
        }
        const auto action =
            name == "allow-site" ? SiteCommand::Action::Allow : SiteCommand::Action::Disallow;
        return SiteCommand{action, (*words)[0], *origin, database};
    }
    if (name == "company-option") {
        if (words->size() != 2)
            throw std::runtime_error("company-option espera CÓDIGO y OPCIÓN=VALOR");
        const std::string& setting = (*words)[1];
        if (setting.starts_with("nombre=")) {
            return CompanyOptionCommand{(*words)[0], std::nullopt, CompanyName(setting.substr(7)),
                                        database};
        }
        if (setting != "reparto=uno" && setting != "reparto=todos") {
            throw std::runtime_error("la opción se escribe reparto=uno o reparto=todos, no «" +
                                     setting + "»");
        }
        return CompanyOptionCommand{(*words)[0], setting == "reparto=uno", std::nullopt, database};
    }
    if (name == "company-reply") {
        if (words->size() != 3 || ((*words)[1] != "add" && (*words)[1] != "remove")) {
            throw std::runtime_error("company-reply espera CÓDIGO, add o remove, y ATAJO");
        }
        const auto action = (*words)[1] == "add" ? ReadyAnswerCommand::Action::Add
                                                 : ReadyAnswerCommand::Action::Remove;
        return ReadyAnswerCommand{action, (*words)[0], ReadyAnswerShortcut((*words)[2]), database};
    }
    if (words->size() != 1) throw std::runtime_error(name + " espera CÓDIGO");
    if (name == "company-replies") {
        return ReadyAnswerCommand{ReadyAnswerCommand::Action::List, (*words)[0], "", database};
    }
    if (name == "company-options") {
        return CompanyOptionCommand{(*words)[0], std::nullopt, std::nullopt, database};
    }
    if (name == "allowed-sites") {
        return SiteCommand{SiteCommand::Action::List, (*words)[0], "", database};
    }
    if (name == "set-password") return SetPasswordCommand{(*words)[0], database};
    return RemoveCompanyCommand{(*words)[0], database};
}

Command ParseReport(Arguments& arguments) {
    ReportCommand command;
    bool daysSeen = false;
    std::vector<std::string> words;
    while (!arguments.Done()) {
        const std::string argument = arguments.Take();
        if (argument == "--db") {
            SetOnce(command.database, argument, arguments.ValueOf(argument));
        } else if (argument == "--days") {
            if (daysSeen) throw std::runtime_error("--days aparece más de una vez");
            daysSeen = true;
            command.days = static_cast<unsigned>(
                NumberOf(argument, arguments.ValueOf(argument), 1, ReportCommand::kMaxDays));
        } else if (argument == "--json") {
            command.json = true;
        } else if (argument == "--help" || argument == "-h") {
            return HelpCommand{};
        } else if (argument.starts_with("--")) {
            throw std::runtime_error("opción desconocida «" + argument + "»");
        } else {
            words.push_back(argument);
        }
    }
    if (words.size() != 1) throw std::runtime_error("report espera CÓDIGO");
    if (!ValidCompanyCode(words[0])) {
        throw std::runtime_error(
            "el código de empresa admite de 1 a 60 letras, dígitos, «.», «_» y «-»");
    }
    command.code = words[0];
    return command;
}

}  // namespace

Command ParseCommandLine(const std::vector<std::string>& arguments) {
    Arguments reader(arguments);
    static const std::set<std::string> kCompanyCommands = {
        "add-company",   "set-password",   "remove-company",  "allow-site",    "disallow-site",
        "allowed-sites", "company-option", "company-options", "company-reply", "company-replies"};
    if (!arguments.empty() && kCompanyCommands.contains(arguments[0])) {
        reader.Take();
        return ParseCompanyCommand(arguments[0], reader);
    }
    if (!arguments.empty() && arguments[0] == "report") {
        reader.Take();
        return ParseReport(reader);
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
  tertulia-service [--listen HOST:PUERTO] [--db BASE] [--database-timeout S]
                   [--demo] [--keep-days N]
                   [--update-file ARCHIVO --update-version V.R]
                   [--access-log ARCHIVO] [--trusted-proxy DIRECCIÓN]...
                   [--metrics-listen HOST:PUERTO] [LÍMITES]
  tertulia-service add-company CÓDIGO [CONTRASEÑA] [--db BASE]
  tertulia-service set-password CÓDIGO [--db BASE]
  tertulia-service remove-company CÓDIGO [--db BASE]
  tertulia-service allow-site CÓDIGO ORIGEN [--db BASE]
  tertulia-service disallow-site CÓDIGO ORIGEN [--db BASE]
  tertulia-service allowed-sites CÓDIGO [--db BASE]
  tertulia-service company-option CÓDIGO reparto=uno|todos [--db BASE]
  tertulia-service company-option CÓDIGO nombre="NOMBRE" [--db BASE]
  tertulia-service company-options CÓDIGO [--db BASE]
  tertulia-service company-reply CÓDIGO add ATAJO [--db BASE] < TEXTO
  tertulia-service company-reply CÓDIGO remove ATAJO [--db BASE]
  tertulia-service company-replies CÓDIGO [--db BASE]
  tertulia-service report CÓDIGO [--days N] [--json] [--db BASE]
  tertulia-service --help

Servicio de chat para la consola Tertulia y página de chat para los visitantes.

  --listen HOST:PUERTO   dirección donde escucha (por omisión 127.0.0.1:8080;
                         el puerto 0 elige uno libre)
  --db BASE              la base de datos: un archivo SQLite (por omisión
                         $XDG_DATA_HOME/tertulia/service.db, o
                         ~/.local/share/tertulia/service.db) o una URI de
                         PostgreSQL (postgresql://USUARIO@SERVIDOR/BASE...),
                         que pueden compartir varios servicios
  --database-timeout S   segundos que una petición espera a la base de datos
                         (10); pasados, responde 503 y el servicio sigue
  --keep-days N          días que se guardan las conversaciones cerradas antes
                         de borrarlas con sus mensajes (30; 0: para siempre)
  --demo                 crea la empresa de demostración «demo» con la
                         contraseña «demo» si no existe
  --update-file ARCHIVO  ofrece este archivo como nueva versión de la consola a
  --update-version V.R   las consolas de versión y revisión anteriores a V.R
  --access-log ARCHIVO   añade una línea por petición a ARCHIVO («-»: la salida
                         estándar); sin contraseñas, sesiones, fichas ni líneas
  --trusted-proxy DIRECCIÓN
                         un proxy inverso en esa dirección IP: la del cliente se
                         toma de su X-Forwarded-For, y sus conexiones no cuentan
                         en el límite por dirección (puede repetirse)
  --metrics-listen HOST:PUERTO
                         sirve las métricas en formato de texto de Prometheus
                         en http://HOST:PUERTO/metrics, una dirección aparte de
                         la de --listen (por omisión, ninguna)

Límites (0 en los que lo admiten: sin límite):
  --max-connections N              conexiones abiertas en total (19000)
  --max-connections-per-address N  conexiones abiertas por dirección (64)
  --max-head-bytes N               memoria por conexión para la cabecera de la
                                   petición, en bytes (16384)
  --head-timeout S                 segundos para recibir la cabecera completa de
                                   cada petición (10)
  --idle-timeout S                 segundos sin tráfico antes de cerrar (15)
  --body-timeout S                 segundos como máximo para una petición con
                                   cuerpo: la cabecera más un segundo por KiB
                                   que admite su ruta (30)
  --stream-buffer-bytes N          bytes que los flujos de eventos guardan en
                                   total para los clientes que no los leen
                                   (67108864); un flujo que pasa de 256 KiB
                                   pendientes, o que lleva 60 s sin enviar nada
                                   de lo pendiente, se corta y su cliente sigue
                                   con Last-Event-ID
  --conversations-per-address N    conversaciones abiertas por dirección: N
                                   seguidas, que se recuperan a N por hora (20)
  --conversations-per-network N    lo mismo por red (/24 de IPv4, /48 de IPv6)
                                   (60)
  --lines-per-address N            mensajes de visitantes por dirección: N
                                   seguidos, que se recuperan a N por minuto (60)
  --lines-per-conversation N       líneas de una conversación (500)
  --bytes-per-conversation N       bytes de texto de una conversación (262144)
  --waiting-per-company N          conversaciones abiertas de una empresa (200)
  --visitor-silence S              segundos sin noticias del visitante tras los
                                   que se cierra su conversación (600)
  --owner-silence S                segundos sin que la consola que atiende una
                                   conversación la pida ni mantenga su flujo de
                                   eventos tras los que otra consola puede
                                   tomarla (120)

Rutas:
  /                       página de chat para los visitantes (/?empresa=CÓDIGO
                          rellena la empresa)
  /widget.js              botón de chat para las páginas de la empresa:
                          <script src="https://SERVICIO/widget.js"
                                  data-empresa="CÓDIGO" async></script>
  /tertulia.php           guion de servicio de la consola (do_login, get_news,
                          getchat, dropclt)
  /gl/chkupdate.php       guion de actualización de la consola
  /api/conversaciones     API JSON de los visitantes
  /api/empresas/CÓDIGO    nombre de la empresa y si hay un operador conectado
  /salud                  «OK» (200) mientras la base de datos responde; si no,
                          503: para las comprobaciones de un balanceador

add-company registra una empresa con su contraseña de chat (la que el operador
escribe en la consola, de al menos 8 caracteres); sin CONTRASEÑA la pide en el
terminal o la lee de la entrada estándar, como set-password, que cambia la
contraseña y cierra las sesiones abiertas de la empresa. remove-company borra la
empresa con sus sesiones, conversaciones y mensajes.

allow-site permite que las páginas de ORIGEN (https://tienda.example, con el
puerto si no es el habitual) muestren el botón de chat de la empresa;
disallow-site lo retira y allowed-sites los lista. Sin ninguno, la página de
chat solo se muestra en marcos del propio servicio.

company-option cambia una opción de la empresa y company-options las lista.
reparto=uno (la opción de las empresas nuevas) da cada conversación a la primera
consola que la abre: las demás no la ven mientras esa consola siga atendiéndola.
reparto=todos muestra cada conversación en todas las consolas de la empresa.
nombre="NOMBRE" es el nombre que ven los visitantes (hasta 100 caracteres; vacío,
el código de la empresa).

company-reply add guarda una respuesta rápida de la empresa, que sus operadores
eligen por su ATAJO (de 1 a 30 letras sin tilde, dígitos y «-»; mayúsculas y
minúsculas valen lo mismo), con el texto de la entrada estándar (hasta 2000
caracteres; puede tener varias líneas) y sustituye la que tuviera ese atajo;
company-reply remove la borra y company-replies las lista.

report da las cifras de la empresa en los últimos N días UTC, hoy incluido (30
por omisión, hasta 3660), en total y por cada día con conversaciones (contadas
el día en que se abrieron): conversaciones, atendidas (con alguna línea de un
operador), perdidas (cerradas sin ninguna), mensajes dejados fuera de línea,
mediana y percentil 90 de los segundos hasta la primera línea de un operador,
mediana de la duración de las cerradas y porcentaje de «Sí» entre las respuestas
a la pregunta de si se ayudó al visitante. Con --json las escribe en JSON.

Detrás de un proxy inverso de confianza (--trusted-proxy), las direcciones que
el servicio escribe en sus respuestas toman el esquema y el host de
X-Forwarded-Proto y X-Forwarded-Host.
)";
}

}  // namespace tertulia
