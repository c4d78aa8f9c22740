#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <latch>
#include <thread>

#include "fresh_database.h"
#include "service/charset.h"
#include "tests/support/haproxy_balancer.h"
#include "tests/support/service_process.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/whole_file.h"

namespace tertulia::testing {
namespace {

const std::vector<std::string> kUnlimited = {"--lines-per-address", "0", "--lines-per-conversation",
                                             "0"};

std::unique_ptr<httplib::Client> ClientOf(const std::string& url) {
    auto client = std::make_unique<httplib::Client>(url);
    client->set_url_encode(false);
    return client;
}

std::pair<std::string, std::string> Open(httplib::Client& client, const std::string& name) {
    const auto reply = client.Post("/api/conversaciones", "empresa=demo&nombre=" + name,
                                   "application/x-www-form-urlencoded");
    if (!reply || reply->status != 201) throw std::runtime_error("not opened");
    const std::string& body = reply->body;
    return {body.substr(6, body.find(',') - 6), body.substr(body.find("\"token\":\"") + 9, 32)};
}

bool Write(httplib::Client& client, const std::string& id, const std::string& token,
           const std::string& text) {
    const auto reply =
        client.Post(("/api/conversaciones/" + id + "/mensajes").c_str(),
                    "token=" + token + "&texto=" + text, "application/x-www-form-urlencoded");
    return reply && reply->status == 200;
}

std::string Get(httplib::Client& client, const std::string& target) {
    const auto reply = client.Get(target.c_str());
    return reply && reply->status == 200 ? reply->body : "(no reply)";
}

class Instances : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!database_.Skip().empty()) GTEST_SKIP() << database_.Skip();
    }
    FreshDatabase database_{Backend::Postgres};
};

TEST_F(Instances, a_visitor_on_one_and_the_operator_on_the_other) {
    TemporaryDirectory logs;
    const std::string log = logs.path() + "/errors.txt";
    ServiceProcess one({.database = database_.location(), .arguments = kUnlimited});
    ServiceProcess other(
        {.database = database_.location(), .arguments = kUnlimited, .errors = log});
    // The second start finds the schema made: the server's notice is one line of the log.
    for (const std::string line : {"\nNOTICE:", "\nDETAIL:"}) {
        EXPECT_EQ(("\n" + ReadWholeFile(log)).find(line), std::string::npos) << ReadWholeFile(log);
    }
    auto visitor = ClientOf(one.Url());
    auto console = ClientOf(other.Url());
    const auto [id, token] = Open(*visitor, "Ana");
    const std::string session = other.Login();
    const std::string news = "/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + session;
    EXPECT_EQ(Get(*console, news), "OK lineas=" + id + ":0," + id + "=Ana|");
    ASSERT_TRUE(Write(*visitor, id, token, "hola"));
    EXPECT_EQ(Get(*console, news), "OK lineas=" + id + ":1," + id + "=Ana|");
    const std::string chat =
        "/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + session + "&idsesionclt=" + id;
    EXPECT_EQ(Get(*console, chat + "&mensaje=buenas"),
              "<b>Ana</b>: hola<br><b>Operador</b>: buenas");
    EXPECT_NE(Get(*visitor, "/api/conversaciones/" + id + "?token=" + token).find("buenas"),
              std::string::npos);
    // The session made on one serves on the other, and so does its end.
    EXPECT_EQ(Get(*visitor, chat), "<b>Ana</b>: hola<br><b>Operador</b>: buenas");
    EXPECT_EQ(Get(*visitor, "/tertulia.php?accion=dropclt&idempresa=demo&idsesion=" + session +
                                "&idsesionclt=" + id),
              "OK");
    EXPECT_EQ(Get(*console, news), "OK lineas=,");
}

TEST_F(Instances, one_killed_in_a_burst_of_writes_loses_no_acknowledged_line) {
    ServiceProcess doomed({.database = database_.location(), .arguments = kUnlimited});
    ServiceProcess survivor({.database = database_.location(), .arguments = kUnlimited});
    test::HaproxyBalancer balancer({doomed.Port(), survivor.Port()});
    if (!balancer.Running()) GTEST_SKIP() << balancer.Error();

    constexpr int kWriters = 3;
    struct Writer {
        std::string id;
        std::string token;
        std::vector<int> acknowledged;
        int refused = 0;
    };
    std::vector<Writer> writers(kWriters);
    for (Writer& writer : writers) {
        auto client = ClientOf(balancer.Url());
        std::tie(writer.id, writer.token) = Open(*client, "Visitante");
    }
    std::atomic<bool> killed = false;
    std::atomic<int> afterKill = 0;
    std::vector<std::thread> threads;
    for (Writer& writer : writers) {
        threads.emplace_back([&] {
            auto client = ClientOf(balancer.Url());
            for (int n = 1; afterKill < 150; ++n) {
                const bool wasKilled = killed;
                if (Write(*client, writer.id, writer.token, "linea-" + std::to_string(n))) {
                    writer.acknowledged.push_back(n);
                    if (wasKilled) ++afterKill;
                } else {
                    ++writer.refused;
                }
            }
        });
    }
    while (writers[0].acknowledged.size() < 100) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    doomed.Kill();
    killed = true;
    for (std::thread& thread : threads) thread.join();

    auto client = ClientOf(survivor.Url());
    for (const Writer& writer : writers) {
        const std::string stored =
            Get(*client, "/api/conversaciones/" + writer.id + "?token=" + writer.token);
        int missing = 0;
        for (const int n : writer.acknowledged) {
            if (stored.find("\"linea-" + std::to_string(n) + "\"") == std::string::npos) ++missing;
        }
        EXPECT_EQ(missing, 0) << "of " << writer.acknowledged.size() << " acknowledged";
        EXPECT_LE(writer.refused, 2) << "only requests in flight at the kill may fail";
    }
    const std::string session =
        Get(*ClientOf(balancer.Url()),
            "/tertulia.php?accion=do_login&idempresa=demo&contrasena=" + Md5TextOfString("demo"));
    EXPECT_TRUE(session.starts_with("OK=")) << session;
}

TEST_F(Instances, simultaneous_wrong_logins_on_both_have_five_checked) {
    TemporaryDirectory logs;
    const std::vector<std::string> logFiles = {logs.path() + "/one.txt",
                                               logs.path() + "/other.txt"};
    ServiceProcess one({.database = database_.location(), .errors = logFiles[0]});
    ServiceProcess other({.database = database_.location(), .errors = logFiles[1]});
    constexpr int kLogins = 60;
    std::vector<std::string> bodies(kLogins);
    std::latch ready(kLogins + 1);
    std::vector<std::thread> threads;
    for (int i = 0; i < kLogins; ++i) {
        threads.emplace_back([&, i] {
            auto client = ClientOf((i % 2 == 0 ? one : other).Url());
            ready.arrive_and_wait();
            bodies[i] = Get(*client, "/tertulia.php?accion=do_login&idempresa=demo&contrasena=" +
                                         Md5TextOfString("mal"));
        });
    }
    // Into the next second of the clock, so that the waits the burst meets last for all of it.
    std::this_thread::sleep_until(
        std::chrono::ceil<std::chrono::seconds>(std::chrono::system_clock::now()) +
        std::chrono::milliseconds(20));
    ready.arrive_and_wait();
    for (std::thread& thread : threads) thread.join();
    const std::string wrong =
        Windows1252FromUtf8("ERROR: Código de empresa o contraseña incorrectos.");
    EXPECT_EQ(std::count(bodies.begin(), bodies.end(), wrong), 5);
    std::size_t failureLines = 0;
    for (const std::string& file : logFiles) {
        const std::string log = ReadWholeFile(file);
        for (std::size_t at = log.find("inicio de sesión fallido"); at != std::string::npos;
             at = log.find("inicio de sesión fallido", at + 1)) {
            ++failureLines;
        }
    }
    EXPECT_EQ(failureLines, 5u);
}

}  // namespace
}  // namespace tertulia::testing
