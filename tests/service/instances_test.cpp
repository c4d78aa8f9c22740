#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <latch>
#include <optional>
#include <thread>

#include "fresh_database.h"
#include "service/charset.h"
#include "service/storage.h"
#include "tests/support/daemon_process.h"
#include "tests/support/haproxy_balancer.h"
#include "tests/support/next_second.h"
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
    EXPECT_EQ(Get(*console, news), "OK lineas=cerrada=" + id + ",");
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
        std::atomic<std::size_t> acknowledgedSoFar = 0;  // read while it writes
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
                    ++writer.acknowledgedSoFar;
                    if (wasKilled) ++afterKill;
                } else {
                    ++writer.refused;
                }
            }
        });
    }
    while (writers[0].acknowledgedSoFar < 100) {
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

TEST_F(Instances, two_consoles_asking_at_once_on_both_get_one_owner) {
    ServiceProcess one({.database = database_.location()});
    ServiceProcess other({.database = database_.location()});
    const ServiceProcess* services[] = {&one, &other};
    const std::string sessions[] = {one.Login(), other.Login()};
    auto visitor = ClientOf(one.Url());
    for (int round = 0; round < 5; ++round) {
        const std::string id = Open(*visitor, "Ana").first;
        std::latch start(2);
        std::string replies[2];
        std::vector<std::thread> consoles;
        for (int n = 0; n < 2; ++n) {
            consoles.emplace_back([&, n] {
                auto client = ClientOf(services[n]->Url());
                const std::string chat =
                    "/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + sessions[n] +
                    "&idsesionclt=" + id + "&mensaje=soy-" + std::to_string(n);
                start.arrive_and_wait();
                replies[n] = Get(*client, chat);
            });
        }
        for (std::thread& console : consoles) console.join();
        // One stored its line alone; the other was told to let its window go.
        const int owner = replies[0].starts_with("<b>Operador</b>") ? 0 : 1;
        EXPECT_EQ(replies[owner], "<b>Operador</b>: soy-" + std::to_string(owner));
        EXPECT_TRUE(replies[1 - owner].starts_with("<b>Tertulia</b>: Esta conversaci"))
            << replies[1 - owner];
    }
}

// Consoles A and B of the demo company ask at once, on a new conversation each round: A for its
// transcript, which gives it to A, and B to close it. How many of the conversations ended closed
// while they were A's: a close that a non-owner's statement made past A's claim.
int ClosedByTheNonOwner(const std::string& database, const ServiceProcess& forA,
                        const ServiceProcess& forB, int rounds) {
    const std::string sessions[] = {forA.Login(), forB.Login()};
    const std::string urls[] = {forA.Url(), forB.Url()};
    const char* const actions[] = {"getchat", "dropclt"};
    auto visitor = ClientOf(forA.Url());
    std::vector<std::int32_t> ids;
    for (int round = 0; round < rounds; ++round) {
        const std::string id = Open(*visitor, "Ana").first;
        ids.push_back(std::stoi(id));
        std::latch start(2);
        std::vector<std::thread> consoles;
        for (int n = 0; n < 2; ++n) {
            consoles.emplace_back([&, n] {
                auto client = ClientOf(urls[n]);
                client->set_keep_alive(true);
                Get(*client, "/salud");  // connected before the start
                start.arrive_and_wait();
                Get(*client, std::string("/tertulia.php?accion=") + actions[n] +
                                 "&idempresa=demo&idsesion=" + sessions[n] + "&idsesionclt=" + id);
            });
        }
        for (std::thread& console : consoles) console.join();
    }
    const auto storage = Storage::Open(database, {});
    const auto session = storage->sessions.Session("demo", sessions[0]);
    if (!session) throw std::runtime_error("A's session is gone");
    int closed = 0;
    for (const std::int32_t id : ids) {
        const auto conversation = storage->conversations.CompanyConversation(session->company, id);
        if (conversation && !conversation->open && conversation->owner == session->idHash) {
            ++closed;
        }
    }
    return closed;
}

// As many conversations as the races take, from the test's one address.
const std::vector<std::string> kOpenFreely = {"--conversations-per-address", "0",
                                              "--conversations-per-network", "0",
                                              "--waiting-per-company",       "0"};

TEST(Owners, a_non_owners_close_racing_a_claim_on_sqlite_never_closes_the_owners_conversation) {
    const ServiceProcess service({.arguments = kOpenFreely});
    EXPECT_EQ(ClosedByTheNonOwner(service.Directory() + "/service.db", service, service, 40), 0);
}

TEST_F(Instances, a_non_owners_close_racing_a_claim_on_the_other_never_closes_the_owners) {
    const ServiceProcess one({.database = database_.location(), .arguments = kOpenFreely});
    const ServiceProcess other({.database = database_.location(), .arguments = kOpenFreely});
    EXPECT_EQ(ClosedByTheNonOwner(database_.location(), one, other, 40), 0);
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
    IntoTheNextSecond();
    ready.arrive_and_wait();
    for (std::thread& thread : threads) thread.join();
    const std::string wrong =
        Windows1252FromUtf8("ERROR: Código de empresa o contraseña incorrectos.");
    EXPECT_EQ(std::count(bodies.begin(), bodies.end(), wrong), 5);
    std::size_t failureLines = 0;
    for (const std::string& file : logFiles) {
        failureLines += Occurrences(ReadWholeFile(file), "inicio de sesión fallido");
    }
    EXPECT_EQ(failureLines, 5u);
}

// A PostgreSQL server of the tests below alone, which they pause and restart.
test::PostgresServer& StalledPostgres() {
    static test::PostgresServer server;
    return server;
}

// Paused for the scope, so that a failed check never leaves the server stopped.
class Paused {
  public:
    explicit Paused(test::PostgresServer& server) : server_(server) { server_.Pause(); }
    ~Paused() { server_.Resume(); }
    Paused(const Paused&) = delete;
    Paused& operator=(const Paused&) = delete;

  private:
    test::PostgresServer& server_;
};

struct Timed {
    int status = 0;  // 0: no reply
    std::string body;
    double seconds = 0;
};

// A GET, or a POST of a form, with how long its reply took.
Timed Request(const std::string& url, const std::string& target, const std::string& form = "") {
    auto client = ClientOf(url);
    client->set_read_timeout(60, 0);
    const auto start = std::chrono::steady_clock::now();
    const auto reply =
        form.empty() ? client->Get(target.c_str())
                     : client->Post(target.c_str(), form, "application/x-www-form-urlencoded");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!reply) return {0, "", took.count()};
    return {reply->status, reply->body, took.count()};
}

Timed OpenDemo(const std::string& url) {
    return Request(url, "/api/conversaciones", "empresa=demo&nombre=Ana");
}

// The exit status of the child, or -1 for a signal, once it ends within `limit`; nothing
// (and the child killed) when it does not.
std::optional<int> ExitWithin(pid_t child, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class DatabaseStalls : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!server_.Running()) GTEST_SKIP() << "PostgreSQL cannot be started: " << server_.Error();
        static std::atomic<int> made = 0;
        database_ = server_.CreateDatabase("stalls_" + std::to_string(++made));
    }

    test::PostgresServer& server_ = StalledPostgres();
    std::string database_;
    TemporaryDirectory logs_;
};

TEST_F(DatabaseStalls, a_paused_database_is_answered_503_by_the_deadline_and_then_served_again) {
    const std::string log = logs_.path() + "/errors.txt";
    ServiceProcess service(
        {.database = database_, .arguments = {"--database-timeout", "2"}, .errors = log});
    const std::string news =
        "/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + service.Login();
    {
        const Paused paused(server_);
        const Timed console = Request(service.Url(), news);
        EXPECT_EQ(console.status, 503);
        EXPECT_EQ(console.body, "ERROR: La base de datos no responde; int\xE9ntelo de nuevo.");
        const Timed visitor = OpenDemo(service.Url());
        EXPECT_EQ(visitor.status, 503);
        EXPECT_TRUE(visitor.body.starts_with("{\"error\":\"La base de datos no responde"))
            << visitor.body;
        const Timed health = Request(service.Url(), "/salud");
        EXPECT_EQ(health.status, 503);
        EXPECT_EQ(health.body, "ERROR: La base de datos no responde.");
        std::cout << "503 with the database paused after " << console.seconds << " s (console), "
                  << visitor.seconds << " s (visitor), " << health.seconds << " s (/salud)"
                  << std::endl;
        EXPECT_LT(std::max({console.seconds, visitor.seconds, health.seconds}), 8.0);
    }
    EXPECT_EQ(Request(service.Url(), news).body, "OK lineas=,");
    EXPECT_EQ(OpenDemo(service.Url()).status, 201);
    EXPECT_EQ(Request(service.Url(), "/salud").body, "OK");
    EXPECT_EQ(Occurrences(ReadWholeFile(log), "la base de datos no responde"), 1u)
        << "one line a minute: " << ReadWholeFile(log);
    EXPECT_TRUE(LineWith(ReadWholeFile(log), "la base de datos no responde").starts_with("<3>"))
        << "an error for journald";
}

// Holds every worker with requests that wait for the paused database, then asks for the script
// that pages load: it needs no database and should not wait for a worker.
TEST_F(DatabaseStalls, the_widget_script_is_served_while_every_worker_waits_for_the_database) {
    ServiceProcess service({.database = database_,
                            .arguments = {"--database-timeout", "3", "--conversations-per-address",
                                          "0", "--max-connections-per-address", "0"}});
    // A company's visitor page, its sites read before the database stalled.
    const std::string page = "/?empresa=demo";
    EXPECT_EQ(Request(service.Url(), page).status, 200);
    const Paused paused(server_);
    std::vector<std::thread> waiting;
    for (int i = 0; i < 80; ++i) waiting.emplace_back([&] { OpenDemo(service.Url()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const Timed widget = Request(service.Url(), "/widget.js");
    std::cout << "/widget.js with the database paused after " << widget.seconds << " s"
              << std::endl;
    for (std::thread& thread : waiting) thread.join();
    const Timed visitorPage = Request(service.Url(), page);
    EXPECT_EQ(widget.status, 200);
    EXPECT_LT(widget.seconds, 1.0) << "it waited for a worker that the database held";
    EXPECT_EQ(visitorPage.status, 200);
    EXPECT_LT(visitorPage.seconds, 1.0);
}

// Every worker waits for the paused database and more reads queue for one: a request that
// comes then is answered by its own deadline, counted from its arrival, not a whole time-out
// after a worker took it; pages that need no database are served at once throughout.
TEST_F(DatabaseStalls, with_reads_queued_a_new_request_is_answered_503_by_its_own_deadline) {
    constexpr int kTimeout = 4;
    ServiceProcess service(
        {.database = database_,
         .arguments = {"--database-timeout", std::to_string(kTimeout),
                       "--max-connections-per-address", "0", "--conversations-per-address", "0"}});
    auto visitor = ClientOf(service.Url());
    const auto [id, token] = Open(*visitor, "Ana");
    const std::string read = "/api/conversaciones/" + id + "?token=" + token;
    const Paused paused(server_);
    std::vector<std::thread> pending;
    for (int i = 0; i < 100; ++i) pending.emplace_back([&] { Request(service.Url(), read); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    int status = 0;
    std::string retryAfter;
    double seconds = 0;
    std::thread asking([&] {
        auto client = ClientOf(service.Url());
        client->set_read_timeout(60, 0);
        const auto start = std::chrono::steady_clock::now();
        if (const auto reply = client->Get(read.c_str())) {
            status = reply->status;
            retryAfter = reply->get_header_value("Retry-After");
        }
        seconds = SecondsSince(start);
    });
    std::vector<Timed> pages;
    for (const char* page :
         {"/", "/widget.js", "/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1"}) {
        pages.push_back(Request(service.Url(), page));
    }
    asking.join();
    for (std::thread& thread : pending) thread.join();
    EXPECT_EQ(status, 503);
    EXPECT_EQ(retryAfter, "5");
    std::cout << "503 behind 100 queued reads after " << seconds << " s" << std::endl;
    EXPECT_LT(seconds, kTimeout + 2.0) << "the wait for a worker was not counted";
    for (const Timed& page : pages) {
        EXPECT_EQ(page.status, 200);
        EXPECT_LT(page.seconds, 1.0);
    }
}

TEST_F(DatabaseStalls, a_company_row_locked_elsewhere_is_answered_503_by_the_deadline) {
    ServiceProcess service({.database = database_, .arguments = {"--database-timeout", "2"}});
    const std::unique_ptr<PGconn, decltype(&PQfinish)> holder(PQconnectdb(database_.c_str()),
                                                              &PQfinish);
    const auto run = [&](const char* sql) { PQclear(PQexec(holder.get(), sql)); };
    run("BEGIN");
    run("UPDATE companies SET code = code WHERE code = 'demo'");
    const Timed opened = OpenDemo(service.Url());
    EXPECT_EQ(opened.status, 503) << opened.body;
    EXPECT_LT(opened.seconds, 8.0);
    std::cout << "503 behind a locked company row after " << opened.seconds << " s" << std::endl;
    run("ROLLBACK");
    EXPECT_EQ(OpenDemo(service.Url()).status, 201);
}

TEST_F(DatabaseStalls, health_is_503_while_the_server_is_stopped_and_200_once_it_is_back) {
    ServiceProcess service({.database = database_});
    EXPECT_EQ(Request(service.Url(), "/salud").body, "OK");
    server_.Stop();
    EXPECT_EQ(Request(service.Url(), "/salud").status, 503);
    server_.StartAgain();
    EXPECT_EQ(Request(service.Url(), "/salud").body, "OK");
}

TEST_F(DatabaseStalls, a_restarted_database_costs_no_request_an_error) {
    std::vector<std::string> options = kUnlimited;
    options.insert(options.end(),
                   {"--conversations-per-address", "0", "--metrics-listen", "127.0.0.1:0"});
    ServiceProcess service({.database = database_, .arguments = options});
    const std::string news =
        "/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + service.Login();
    server_.Restart();
    std::atomic<int> failed = 0;
    std::vector<std::thread> clients;
    for (int i = 0; i < 4; ++i) {
        clients.emplace_back([&] {
            for (int n = 0; n < 10; ++n) {
                if (OpenDemo(service.Url()).status != 201) ++failed;
                if (!Request(service.Url(), news).body.starts_with("OK lineas=")) ++failed;
            }
        });
    }
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(failed, 0) << "of 80 requests";
    const std::string metrics = GetPath(service.MetricsPort(), "/metrics").body;
    EXPECT_NE(metrics.find("\ntertulia_database_errors_total 0\n"), std::string::npos) << metrics;
    EXPECT_EQ(metrics.find("\ntertulia_database_reconnections_total 0\n"), std::string::npos)
        << "connections made anew: " << metrics;
}

TEST_F(DatabaseStalls, a_start_against_a_paused_database_ends_at_a_signal_or_at_the_deadline) {
    const Paused paused(server_);
    const std::vector<std::string> start = {
        TERTULIA_SERVICE_BINARY, "--listen", "127.0.0.1:0", "--db", database_, "--demo"};
    const pid_t signalled = test::StartChild(start, logs_.path() + "/signalled.txt");
    ASSERT_GT(signalled, 0);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto signalledAt = std::chrono::steady_clock::now();
    ::kill(signalled, SIGTERM);
    EXPECT_EQ(ExitWithin(signalled, std::chrono::seconds(20)), 1);
    const double afterSignal = SecondsSince(signalledAt);
    std::cout << "a start waiting for the database ended " << afterSignal << " s after SIGTERM"
              << std::endl;
    EXPECT_LT(afterSignal, 2.0);

    std::vector<std::string> bounded = start;
    bounded.insert(bounded.end(), {"--database-timeout", "2"});
    const std::string log = logs_.path() + "/bounded.txt";
    const auto startedAt = std::chrono::steady_clock::now();
    const pid_t waiting = test::StartChild(bounded, log);
    ASSERT_GT(waiting, 0);
    EXPECT_EQ(ExitWithin(waiting, std::chrono::seconds(20)), 1);
    EXPECT_LT(SecondsSince(startedAt), 8.0);
    EXPECT_NE(ReadWholeFile(log).find("no se puede conectar con la base de datos"),
              std::string::npos)
        << ReadWholeFile(log);
}

}  // namespace
}  // namespace tertulia::testing
