#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "service/company_setup.h"
#include "service/options.h"
#include "service/service.h"

namespace {

using namespace tertulia;

std::string DatabaseFile(const std::string& chosen) {
    if (!chosen.empty()) return chosen;
    const std::string path = DefaultDatabasePath(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    return path;
}

int AddCompany(const AddCompanyCommand& command) {
    Storage storage(DatabaseFile(command.database), {});
    RegisterCompany(storage, command.code, command.password);
    std::cout << "Empresa «" << command.code << "» registrada." << std::endl;
    return 0;
}

int Serve(const ServeCommand& command) {
    // SIGINT and SIGTERM are taken by one thread that stops the server; the server's threads,
    // started later, inherit the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    ServiceConfig config;
    config.databasePath = DatabaseFile(command.database);
    const std::string databasePath = config.databasePath;
    if (command.updateFile) {
        config.update = UpdateOffer::Load(*command.updateFile, *command.updateVersion);
    }
    Service service(std::move(config));
    if (EnsureDemoCompany(service.storage())) {
        std::cout << "La base de datos no tenía empresas: creada la empresa «demo» con la "
                     "contraseña «demo»."
                  << std::endl;
    }
    const int port = service.Bind(command.host, command.port);
    const std::string host =
        command.host.find(':') != std::string::npos ? "[" + command.host + "]" : command.host;
    std::cout << "Base de datos: " << std::filesystem::absolute(databasePath).string() << "\n";
    if (command.updateFile) {
        std::cout << "Ofrece la versión " << *command.updateVersion
                  << " de la consola: " << *command.updateFile << "\n";
    }
    std::cout << "tertulia-service escucha en http://" << host << ":" << port << "/" << std::endl;

    std::atomic<bool> finished = false;
    std::thread stopper([&] {
        int signal = 0;
        while (sigwait(&stopSignals, &signal) != 0) {
        }
        // A signal that comes while the server is still starting waits for it.
        while (!service.Serving() && !finished) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        service.Stop();
    });
    const bool served = service.Serve();
    finished = true;
    if (served) {
        stopper.join();
    } else {
        // Unblock the stopper by sending it what it waits for.
        kill(getpid(), SIGTERM);
        stopper.join();
    }
    return served ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Command command;
    try {
        command = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& failure) {
        std::cerr << "tertulia-service: " << failure.what() << "\n"
                  << "Pruebe «tertulia-service --help»." << std::endl;
        return 2;
    }
    try {
        if (std::holds_alternative<HelpCommand>(command)) {
            std::cout << UsageText();
            return 0;
        }
        if (const auto* add = std::get_if<AddCompanyCommand>(&command)) return AddCompany(*add);
        return Serve(std::get<ServeCommand>(command));
    } catch (const std::exception& failure) {
        std::cerr << "tertulia-service: " << failure.what() << std::endl;
        return 1;
    }
}
