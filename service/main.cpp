#include <malloc.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>

#include "service/company_setup.h"
#include "service/options.h"
#include "service/report_text.h"
#include "service/service.h"
#include "service/service_log.h"
#include "service/systemd_notify.h"

namespace {

using namespace tertulia;

// The --db value, or the default SQLite file with its folder made.
std::string DatabaseLocation(const std::string& chosen) {
    if (!chosen.empty()) return chosen;
    const std::string path = DefaultDatabasePath(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    return path;
}

std::string ReadLine(bool echo) {
    termios saved{};
    const bool hide = !echo && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (hide) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (hide) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << std::endl;
    }
    if (!read) throw std::runtime_error("no se ha podido leer la contraseña");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// A new password typed twice at the terminal without echo, or the first line of standard
// input when that is no terminal (for scripts: never on the command line, where others see it).
std::string NewPassword() {
    if (!isatty(STDIN_FILENO)) return ReadLine(true);
    std::cerr << "Contraseña nueva: " << std::flush;
    const std::string first = ReadLine(false);
    std::cerr << "Repita la contraseña: " << std::flush;
    if (ReadLine(false) != first) throw std::runtime_error("las contraseñas no coinciden");
    return first;
}

int AddCompany(const AddCompanyCommand& command) {
    const auto storage = Storage::Open(DatabaseLocation(command.database), {});
    RegisterCompany(storage->companies, command.code,
                    command.password ? *command.password : NewPassword());
    std::cout << "Empresa «" << command.code << "» registrada." << std::endl;
    return 0;
}

int SetPassword(const SetPasswordCommand& command) {
    const auto storage = Storage::Open(DatabaseLocation(command.database), {});
    ChangePassword(storage->companies, command.code, NewPassword());
    std::cout << "Contraseña de «" << command.code
              << "» cambiada; sus sesiones abiertas han terminado." << std::endl;
    return 0;
}

int RemoveCompany(const RemoveCompanyCommand& command) {
    const auto storage = Storage::Open(DatabaseLocation(command.database), {});
    if (!storage->companies.RemoveCompany(command.code)) {
        throw std::runtime_error("no existe ninguna empresa con el código «" + command.code + "»");
    }
    std::cout << "Empresa «" << command.code << "» borrada con sus conversaciones." << std::endl;
    return 0;
}

int Sites(const SiteCommand& command) {
    const auto storage = Storage::Open(DatabaseLocation(command.database), {});
    using Action = SiteCommand::Action;
    bool found = true;
    if (command.action == Action::Allow) {
        found = storage->companies.AllowSite(command.code, command.origin);
    }
    if (command.action == Action::Disallow) {
        found = storage->companies.DisallowSite(command.code, command.origin);
    }
    if (!found) {
        throw std::runtime_error("no existe ninguna empresa con el código «" + command.code + "»");
    }
    if (command.action == Action::Allow) {
        std::cout << "Las páginas de " << command.origin << " pueden mostrar el chat de «"
                  << command.code << "»." << std::endl;
    } else if (command.action == Action::Disallow) {
        std::cout << "Las páginas de " << command.origin << " ya no muestran el chat de «"
                  << command.code << "»." << std::endl;
    } else {
        for (const std::string& site : storage->companies.AllowedSites(command.code)) {
            std::cout << site << "\n";
        }
        std::cout << std::flush;
    }
    return 0;
}

int CompanyOption(const CompanyOptionCommand& command) {
    const auto storage = Storage::Open(DatabaseLocation(command.database), {});
    if (command.oneConsole &&
        !storage->companies.SetOneConsole(command.code, *command.oneConsole)) {
        throw std::runtime_error("no existe ninguna empresa con el código «" + command.code + "»");
    }
    if (command.name && !storage->companies.SetName(command.code, *command.name)) {
        throw std::runtime_error("no existe ninguna empresa con el código «" + command.code + "»");
    }
    const auto options = storage->companies.CompanyOptions(command.code);
    if (!options) {
        throw std::runtime_error("no existe ninguna empresa con el código «" + command.code + "»");
    }
    for (const std::string& option : *options) std::cout << option << "\n";
    std::cout << std::flush;
    return 0;
}

// A ready answer's text: all of standard input, typed at the terminal up to Ctrl+D or piped in.
std::string ReadyAnswerInput() {
    if (isatty(STDIN_FILENO)) {
        std::cerr << "Escriba la respuesta y termine con Ctrl+D en una línea aparte:" << std::endl;
    }
    // Far more than the longest answer takes in UTF-8, so that a wrong file is not read whole.
    constexpr std::size_t kMaxInput = 64 * 1024;
    std::string text;
    char buffer[4096];
    while (text.size() <= kMaxInput && std::cin.read(buffer, sizeof buffer)) {
        text.append(buffer, sizeof buffer);
    }
    text.append(buffer, static_cast<std::size_t>(std::cin.gcount()));
    if (text.size() > kMaxInput) {
        throw std::runtime_error("la respuesta es demasiado larga (más de " +
                                 std::to_string(kMaxReadyAnswer) + " caracteres)");
    }
    return text;
}

int ReadyAnswersCommand(const ReadyAnswerCommand& command) {
    using Action = ReadyAnswerCommand::Action;
    if (command.action == Action::Add) {
        const std::string text = ReadyAnswerInput();
        const auto storage = Storage::Open(DatabaseLocation(command.database), {});
        AddReadyAnswer(storage->readyAnswers, command.code, command.shortcut, text);
        std::cout << "Respuesta «" << command.shortcut << "» guardada en «" << command.code << "»."
                  << std::endl;
        return 0;
    }
    const auto storage = Storage::Open(DatabaseLocation(command.database), {});
    if (command.action == Action::Remove) {
        RemoveReadyAnswer(storage->readyAnswers, command.code, command.shortcut);
        std::cout << "Respuesta «" << command.shortcut << "» borrada de «" << command.code << "»."
                  << std::endl;
        return 0;
    }
    const auto answers = storage->readyAnswers.Of(command.code);
    if (!answers) {
        throw std::runtime_error("no existe ninguna empresa con el código «" + command.code + "»");
    }
    // One answer a line, its line breaks shown as the console receives them.
    for (const StoredAnswer& answer : *answers) {
        std::string text = answer.text;
        for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
            text.replace(at, 1, "<br>");
        std::cout << answer.shortcut << "|" << text << "\n";
    }
    std::cout << std::flush;
    return 0;
}

int Report(const ReportCommand& command) {
    const auto storage = Storage::Open(DatabaseLocation(command.database), {});
    const auto report =
        ReadCompanyReport(*storage->database, command.code, command.days, storage->clock());
    if (!report) {
        throw std::runtime_error("no existe ninguna empresa con el código «" + command.code + "»");
    }
    std::cout << (command.json ? ReportJson(*report) : ReportText(*report)) << std::flush;
    return 0;
}

// An IPv6 address in brackets, as a URL writes it.
std::string ShownHost(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// SIGINT and SIGTERM, taken by a thread of their own; every thread started later inherits them
// blocked. During the start, which may wait for the database, they end the process at once;
// once the service is handed over, they stop it cleanly. SIGHUP reopens the access log of the
// service handed over (logrotate sends it after renaming the log) and changes nothing else.
class StopSignals {
  public:
    StopSignals() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        sigaddset(&signals_, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
        thread_ = std::thread([this] { Wait(); });
    }
    ~StopSignals() { Finish(); }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // From now on a signal stops `service`, whose Serve follows.
    void HandOver(Service& service) {
        std::lock_guard lock(mutex_);
        service_ = &service;
    }
    // Done with signals; the service handed over may go.
    void Finish() {
        if (!thread_.joinable()) return;
        finished_ = true;
        // Wakes the thread if it still waits for a signal.
        pthread_kill(thread_.native_handle(), SIGTERM);
        thread_.join();
    }

  private:
    void Wait() {
        int signal = 0;
        Service* service = nullptr;
        for (;;) {
            while (sigwait(&signals_, &signal) != 0) {
            }
            {
                std::lock_guard lock(mutex_);
                service = service_;
            }
            if (finished_) return;
            if (signal != SIGHUP) break;
            // Before the hand-over the log was just opened: nothing to reopen.
            if (service != nullptr) service->ReopenAccessLog();
        }
        if (service == nullptr) {
            LogLine(LogPriority::Warning,
                    "se ha pedido terminar durante el arranque; el servicio no llega a escuchar");
            _exit(1);
        }
        // A signal that comes while the server is still starting waits for it.
        while (!service->Serving() && !finished_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        NotifyStopping();
        service->Stop();
    }

    sigset_t signals_;
    std::mutex mutex_;
    Service* service_ = nullptr;
    std::atomic<bool> finished_ = false;
    std::thread thread_;
};

int Serve(const ServeCommand& command) {
    StopSignals stopSignals;
    signal(SIGPIPE, SIG_IGN);

    ServiceConfig config;
    const std::string location = DatabaseLocation(command.database);
    config.storage = Storage::Open(location, {}, std::chrono::seconds(command.databaseTimeout));
    config.storage->sessions.SetOwnerSilence(command.ownerSilence);
    const std::string shownDatabase = IsPostgresUri(location)
                                          ? config.storage->database->Description()
                                          : std::filesystem::absolute(location).string();
    config.keepDays = command.keepDays;
    if (command.updateFile) {
        config.update = UpdateOffer::Load(*command.updateFile, *command.updateVersion);
    }
    config.http = command.http;
    config.visitors = command.visitors;
    config.trustedProxies = command.trustedProxies;
    config.accessLog = command.accessLog;
    Service service(std::move(config));
    if (command.demo && EnsureDemoCompany(service.storage().companies)) {
        std::cout << "Creada la empresa de demostración «demo» con la contraseña «demo»."
                  << std::endl;
    }
    if (!service.storage().companies.HasCompanies()) {
        std::cout << "La base de datos no tiene empresas: regístrelas con «tertulia-service "
                     "add-company CÓDIGO», o arranque con --demo para probar."
                  << std::endl;
    }
    const int port = service.Bind(command.host, command.port);
    std::cout << "Base de datos: " << shownDatabase << "\n";
    if (command.updateFile) {
        std::cout << "Ofrece la versión " << *command.updateVersion
                  << " de la consola: " << *command.updateFile << "\n";
    }
    if (command.metrics) {
        const int metricsPort = service.BindMetrics(command.metrics->host, command.metrics->port);
        std::cout << "Métricas en http://" << ShownHost(command.metrics->host) << ":" << metricsPort
                  << "/metrics\n";
    }
    const std::string address = "http://" + ShownHost(command.host) + ":" + std::to_string(port);
    std::cout << "tertulia-service escucha en " << address << "/" << std::endl;

    // Ready for systemd once it serves: by now the database has answered a query.
    ServeHooks hooks;
    hooks.ready = [&address] { NotifyReady("Escucha en " + address + "/"); };
    if (const auto heartbeat = WatchdogHeartbeat()) {
        hooks.heartbeat = NotifyWatchdog;
        hooks.heartbeatInterval = *heartbeat;
    }
    stopSignals.HandOver(service);
    const bool served = service.Serve(hooks);
    stopSignals.Finish();
    return served ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Requests are answered by many short-lived tasks on many threads; with an allocation arena
    // per thread, memory freed by one stays reserved for it, and the service's resident size
    // grows with the thread count rather than with its work.
    mallopt(M_ARENA_MAX, 2);
    // Large buffers (a long transcript's reply) get pages of their own, returned when freed;
    // glibc would otherwise raise this threshold after the first such free and keep every later
    // one in the arenas.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    Command command;
    try {
        command = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& failure) {
        // With the priority of an error for journald, as every line on standard error.
        std::cerr << "<3>tertulia-service: " << failure.what() << "\n"
                  << "<3>Pruebe «tertulia-service --help»." << std::endl;
        return 2;
    }
    try {
        if (std::holds_alternative<HelpCommand>(command)) {
            std::cout << UsageText();
            return 0;
        }
        if (const auto* add = std::get_if<AddCompanyCommand>(&command)) return AddCompany(*add);
        if (const auto* set = std::get_if<SetPasswordCommand>(&command)) return SetPassword(*set);
        if (const auto* remove = std::get_if<RemoveCompanyCommand>(&command)) {
            return RemoveCompany(*remove);
        }
        if (const auto* sites = std::get_if<SiteCommand>(&command)) return Sites(*sites);
        if (const auto* option = std::get_if<CompanyOptionCommand>(&command)) {
            return CompanyOption(*option);
        }
        if (const auto* answers = std::get_if<ReadyAnswerCommand>(&command)) {
            return ReadyAnswersCommand(*answers);
        }
        if (const auto* report = std::get_if<ReportCommand>(&command)) return Report(*report);
        return Serve(std::get<ServeCommand>(command));
    } catch (const std::exception& failure) {
        LogLine(LogPriority::Error, failure.what());
        return 1;
    }
}
