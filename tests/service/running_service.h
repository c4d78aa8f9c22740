#pragma once

#include <httplib.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "base/md5.h"
#include "service/company_setup.h"
#include "service/service.h"
#include "tests/support/temporary_directory.h"

namespace tertulia::testing {

// A client of the service on the loopback `port` that sends the target exactly as given, like
// the console does.
inline std::unique_ptr<httplib::Client> LoopbackClient(int port) {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_url_encode(false);
    return client;
}

// The service running in this process on a free loopback port, over a fresh database that holds
// the demo company, with a clock the test moves.
class RunningService {
  public:
    explicit RunningService(std::optional<UpdateOffer> update = std::nullopt) {
        ServiceConfig config;
        config.storage =
            Storage::Open(directory_.path() + "/service.db", [this] { return now.load(); });
        config.update = std::move(update);
        config.clock = [this] { return now.load(); };
        service_ = std::make_unique<Service>(std::move(config));
        EnsureDemoCompany(service_->storage().companies);
        port_ = service_->Bind("127.0.0.1", 0);
        thread_ = std::thread([this] { service_->Serve(); });
        while (!service_->Serving()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~RunningService() {
        service_->Stop();
        thread_.join();
    }

    int port() const { return port_; }
    Storage& storage() { return service_->storage(); }
    const std::string& directory() const { return directory_.path(); }

    std::unique_ptr<httplib::Client> Client() const { return LoopbackClient(port_); }

    // The body of a GET that must answer 200.
    std::string Body(const std::string& target) const {
        const auto reply = Client()->Get(target.c_str());
        if (!reply) throw std::runtime_error("no reply to " + target);
        if (reply->status != 200) {
            throw std::runtime_error("status " + std::to_string(reply->status) + " for " + target);
        }
        return reply->body;
    }

    // A new operator session of the demo company.
    std::string Login() const {
        const std::string reply = Body("/tertulia.php?accion=do_login&idempresa=demo&contrasena=" +
                                       Md5TextOfString("demo"));
        if (!reply.starts_with("OK=")) throw std::runtime_error("login refused: " + reply);
        return reply.substr(3);
    }

    std::atomic<std::int64_t> now = 1'700'000'000;

  private:
    TemporaryDirectory directory_;
    std::unique_ptr<Service> service_;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace tertulia::testing
