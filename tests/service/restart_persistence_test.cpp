#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "running_service.h"
#include "tests/support/service_process.h"

extern char** environ;

namespace tertulia::testing {
namespace {

// tertulia-service started as a child process over the given database, with an HTTP client.
class ChildService : public ServiceProcess {
  public:
    explicit ChildService(const std::string& database)
        : ServiceProcess(TERTULIA_SERVICE_BINARY, {.database = database, .arguments = {}}) {}

    const std::string& output() const { return Output(); }

    std::unique_ptr<httplib::Client> Client() const {
        auto client = std::make_unique<httplib::Client>("127.0.0.1", Port());
        client->set_url_encode(false);
        return client;
    }
    std::string Body(const std::string& target) const {
        const auto reply = Client()->Get(target.c_str());
        return reply ? reply->body : "(no reply)";
    }
};

// Runs tertulia-service with these arguments to its end; returns its exit status.
int RunService(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), TERTULIA_SERVICE_BINARY);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CompanyCommand, registers_the_digest_of_the_windows_1252_password_and_only_a_slow_hash) {
    TemporaryDirectory directory;
    const std::string database = directory.path() + "/service.db";
    EXPECT_EQ(RunService({"add-company", "acme", "contraseña", "--db", database}), 0);
    EXPECT_EQ(RunService({"add-company", "acme", "otra", "--db", database}), 1) << "code taken";
    EXPECT_EQ(RunService({"add-company", "nipon", "日本", "--db", database}), 1)
        << "the console cannot type this password";
    EXPECT_EQ(RunService({"add-company", "a&b", "clave", "--db", database}), 2);

    const std::string digest = Md5TextOfString(
        "contrase\xF1"
        "a");
    {
        ChildService service(database);
        EXPECT_EQ(service.output().find("«demo»"), std::string::npos) << "acme is there already";
        EXPECT_TRUE(
            service.Body("/tertulia.php?accion=do_login&idempresa=acme&contrasena=" + digest)
                .starts_with("OK="));
        EXPECT_TRUE(service
                        .Body("/tertulia.php?accion=do_login&idempresa=acme&contrasena=" +
                              Md5TextOfString("contraseña"))
                        .starts_with("ERROR"))
            << "the UTF-8 bytes of the password are not what the console hashes";
    }
    // Neither the password nor the digest that logs in is written anywhere in the files.
    for (const auto& file : std::filesystem::directory_iterator(directory.path())) {
        std::ifstream in(file.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        for (const std::string& secret : {std::string("contrase"), digest}) {
            EXPECT_EQ(bytes.find(secret), std::string::npos) << file.path() << " holds " << secret;
        }
    }
}

TEST(RestartPersistence, nothing_acknowledged_is_lost_when_the_service_is_killed) {
    TemporaryDirectory directory;
    const std::string database = directory.path() + "/service.db";
    std::string session;
    std::string id;
    std::string token;
    std::string closedId;
    int acknowledged = 0;
    {
        ChildService first(database);
        EXPECT_NE(first.output().find("«demo»"), std::string::npos);
        session = first
                      .Body("/tertulia.php?accion=do_login&idempresa=demo&contrasena=" +
                            Md5TextOfString("demo"))
                      .substr(3);
        for (std::string* conversation : {&closedId, &id}) {
            const auto opened =
                first.Client()->Post("/api/conversaciones", "empresa=demo&nombre=Luc%C3%ADa",
                                     "application/x-www-form-urlencoded");
            ASSERT_TRUE(opened && opened->status == 201);
            *conversation = opened->body.substr(6, opened->body.find(',') - 6);
            token = opened->body.substr(opened->body.find("\"token\":\"") + 9, 32);
        }
        ASSERT_EQ(first.Body("/tertulia.php?accion=dropclt&idempresa=demo&idsesion=" + session +
                             "&idsesionclt=" + closedId),
                  "OK");
        ASSERT_EQ(first.Body("/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + session +
                             "&idsesionclt=" + id + "&mensaje=Buenos%20d%EDas"),
                  "<b>Operador</b>: Buenos d&iacute;as");

        // The visitor writes as fast as the service acknowledges until the service is killed.
        std::atomic<bool> stop = false;
        std::thread writer([&] {
            auto client = first.Client();
            for (int n = 1; !stop; ++n) {
                const auto reply =
                    client->Post(("/api/conversaciones/" + id + "/mensajes").c_str(),
                                 "token=" + token + "&texto=l%C3%ADnea+" + std::to_string(n),
                                 "application/x-www-form-urlencoded");
                if (!reply || reply->status != 200) return;
                acknowledged = n;
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        first.Kill();
        stop = true;
        writer.join();
    }
    ASSERT_GT(acknowledged, 0);

    ChildService second(database);
    EXPECT_EQ(second.output().find("«demo»"), std::string::npos) << "demo made only once";
    // The session, the conversations and every acknowledged line are there.
    EXPECT_EQ(second.Body("/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + session),
              "OK," + id +
                  "=Luc\xED"
                  "a|");
    const std::string transcript = second.Body(
        "/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + session + "&idsesionclt=" + id);
    std::string expected = "<b>Operador</b>: Buenos d&iacute;as";
    for (int n = 1; n <= acknowledged; ++n) {
        expected += "<br><b>Luc&iacute;a</b>: l&iacute;nea " + std::to_string(n);
    }
    EXPECT_TRUE(transcript.starts_with(expected)) << "acknowledged " << acknowledged;
    EXPECT_TRUE(second.Body("/api/conversaciones/" + id + "?token=" + token)
                    .starts_with("{\"abierta\":true,\"mensajes\":[{\"autor\":\"operador\""));
    EXPECT_TRUE(second
                    .Body("/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + session +
                          "&idsesionclt=" + closedId)
                    .starts_with("ERROR"));
}

}  // namespace
}  // namespace tertulia::testing
