#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include <sqlite3.h>

#include "running_service.h"
#include "tests/support/service_process.h"
#include "tests/support/whole_file.h"

namespace tertulia::testing {
namespace {

TEST(CompanyCommand, registers_the_digest_of_the_windows_1252_password_and_only_a_slow_hash) {
    TemporaryDirectory directory;
    const std::string database = directory.path() + "/service.db";
    EXPECT_EQ(RunService({"add-company", "acme", "contraseña", "--db", database}), 0);
    EXPECT_EQ(RunService({"add-company", "acme", "otra-clave", "--db", database}), 1)
        << "code taken";
    EXPECT_EQ(RunService({"add-company", "nipon", "日本", "--db", database}), 1)
        << "the console cannot type this password";
    EXPECT_EQ(RunService({"add-company", "a&b", "clave", "--db", database}), 2);
    EXPECT_EQ(RunService({"add-company", "blancos", "        ", "--db", database}), 1)
        << "eight spaces";
    EXPECT_EQ(RunService({"add-company", "control", "clave\tlarga", "--db", database}), 1)
        << "a control character";

    const std::string digest = Md5TextOfString(
        "contrase\xF1"
        "a");
    std::string session;
    {
        ServiceProcess service({.database = database, .demo = false});
        EXPECT_EQ(service.Output().find("«demo»"), std::string::npos) << "no demo without --demo";
        session = service.Login("acme",
                                "contrase\xF1"
                                "a");
        EXPECT_TRUE(service.LoginReply("acme", "contraseña").starts_with("ERROR"))
            << "the UTF-8 bytes of the password are not what the console hashes";
    }
    // Neither the password, nor the digest that logs in, nor a session id is written anywhere
    // in the files.
    for (const auto& file : std::filesystem::directory_iterator(directory.path())) {
        const std::string bytes = ReadWholeFile(file.path());
        for (const std::string& secret : {std::string("contrase"), digest, session}) {
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
        ServiceProcess first({.database = database, .arguments = {"--lines-per-address", "0"}});
        EXPECT_NE(first.Output().find("«demo»"), std::string::npos);
        session = first.Login();
        closedId = OpenConversation(first.Port(), "Luc%C3%ADa").id;
        const VisitorConversation open = OpenConversation(first.Port(), "Luc%C3%ADa");
        id = open.id;
        token = open.token;
        ASSERT_EQ(first.Body("/tertulia.php?accion=dropclt&idempresa=demo&idsesion=" + session +
                             "&idsesionclt=" + closedId),
                  "OK");
        ASSERT_EQ(first.Body("/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + session +
                             "&idsesionclt=" + id + "&mensaje=Buenos%20d%EDas"),
                  "<b>Operador</b>: Buenos d&iacute;as");

        // The visitor writes as fast as the service acknowledges until the service is killed.
        std::atomic<bool> stop = false;
        std::thread writer([&] {
            auto client = LoopbackClient(first.Port());
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

    ServiceProcess second({.database = database});
    EXPECT_EQ(second.Output().find("«demo»"), std::string::npos) << "demo made only once";
    // The session, the conversations and every acknowledged line are there.
    // The line in flight at the kill may have been stored without its answer.
    const std::string news =
        second.Body("/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + session);
    // The conversation closed before the kill is still named as closed in the news.
    const std::string list = ";cerrada=" + closedId + "," + id +
                             "=Luc\xED"
                             "a|";
    EXPECT_TRUE(news == "OK lineas=" + id + ":" + std::to_string(acknowledged) + list ||
                news == "OK lineas=" + id + ":" + std::to_string(acknowledged + 1) + list)
        << news << " after " << acknowledged;
    const std::string transcript = second.Body(
        "/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + session + "&idsesionclt=" + id);
    std::string expected = "<b>Operador</b>: Buenos d&iacute;as";
    for (int n = 1; n <= acknowledged; ++n) {
        expected += "<br><b>Luc&iacute;a</b>: l&iacute;nea " + std::to_string(n);
    }
    EXPECT_TRUE(transcript.starts_with(expected)) << "acknowledged " << acknowledged;
    EXPECT_TRUE(second.Body("/api/conversaciones/" + id + "?token=" + token)
                    .starts_with("{\"abierta\":true,\"mensajes\":[{\"autor\":\"operador\""));
    // The close survived: the closed conversation's transcript says it has ended.
    EXPECT_TRUE(second
                    .Body("/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + session +
                          "&idsesionclt=" + closedId)
                    .ends_with("<b>Tertulia</b>: La conversaci&oacute;n ha terminado. "
                               "Ci&eacute;rrela con &laquo;Cerrar y Borrar Historial&raquo;."));
}

TEST(CompanyCommand, set_password_ends_the_sessions_and_remove_company_leaves_nothing) {
    TemporaryDirectory directory;
    const std::string database = directory.path() + "/service.db";
    // Passwords from standard input, as a script gives them; at least 8 characters.
    EXPECT_EQ(RunService({"add-company", "acme", "--db", database}, "corta\n"), 1);
    EXPECT_EQ(RunService({"add-company", "acme", "primera-clave", "--db", database}), 0);
    EXPECT_EQ(RunService({"add-company", "otra", "--db", database}, "clave-de-otra\n"), 0);

    ServiceProcess service({.database = database, .demo = false});
    const std::string news = "/tertulia.php?accion=get_news&idempresa=acme&idsesion=" +
                             service.Login("acme", "primera-clave");
    EXPECT_EQ(service.Body(news), "OK lineas=,");
    OpenConversation(service.Port(), "Ana", "acme");

    EXPECT_EQ(RunService({"set-password", "acme", "--db", database}, "1234567\n"), 1);
    EXPECT_EQ(RunService({"set-password", "nadie", "--db", database}, "segunda-clave\n"), 1);
    EXPECT_EQ(RunService({"set-password", "acme", "--db", database}, "segunda-clave\n"), 0);
    EXPECT_TRUE(service.Body(news).starts_with("ERROR.")) << "the session ended";
    EXPECT_TRUE(service.LoginReply("acme", "primera-clave").starts_with("ERROR"));
    EXPECT_TRUE(service.LoginReply("acme", "segunda-clave").starts_with("OK="));

    EXPECT_EQ(RunService({"remove-company", "acme", "--db", database}), 0);
    EXPECT_EQ(RunService({"remove-company", "acme", "--db", database}), 1) << "gone already";
    EXPECT_TRUE(service.LoginReply("acme", "segunda-clave").starts_with("ERROR"));
    EXPECT_EQ(PostForm(service.Port(), "/api/conversaciones", "empresa=acme&nombre=Eva").status,
              404);
    EXPECT_TRUE(service.LoginReply("otra", "clave-de-otra").starts_with("OK="))
        << "the other company is untouched";
}

TEST(AccessLog, one_line_per_request_without_secrets) {
    TemporaryDirectory directory;
    const std::string log = directory.path() + "/access.log";
    {
        ServiceProcess service({.arguments = {"--access-log", log}});
        const std::string session = service.Login();
        service.Body("/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + session);
        service.Body("/no-existe");
        // A line is written once its reply has gone out, a moment after the client has it.
        std::string text;
        for (int i = 0; i < 100 && std::count(text.begin(), text.end(), '\n') < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            text = ReadWholeFile(log);
        }
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
        EXPECT_NE(text.find("\"GET /tertulia.php?accion=do_login&idempresa=demo&contrasena=-\" "
                            "200 "),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("\"GET /no-existe\" 404 "), std::string::npos) << text;
        EXPECT_EQ(text.find(session), std::string::npos) << "session id written";
        EXPECT_EQ(text.find(Md5TextOfString("demo")), std::string::npos) << "digest written";
    }
}

TEST(Health, an_internal_error_is_logged_with_its_route_and_cause) {
    TemporaryDirectory directory;
    const std::string database = directory.path() + "/service.db";
    const std::string errors = directory.path() + "/errors.txt";
    ServiceProcess service({.database = database, .errors = errors});
    const std::string session = service.Login();
    // The messages go missing under the running service.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 10000);
    EXPECT_EQ(sqlite3_exec(db, "DROP TABLE messages", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const std::string id = OpenConversation(service.Port(), "Ana").id;
    EXPECT_EQ(service.Body("/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + session +
                           "&idsesionclt=" + id),
              "ERROR: Error interno del servicio.");
    service.LoginReply("demo", "mal");
    // Each line with its priority for journald: an error, and a warning.
    const std::string log = ReadWholeFile(errors);
    EXPECT_TRUE(LineWith(log,
                         "error interno en /tertulia.php accion=getchat: SQLite: no such "
                         "table: messages")
                    .starts_with("<3>"))
        << log;
    EXPECT_TRUE(LineWith(log, "inicio de sesión fallido de la empresa «demo»").starts_with("<4>"))
        << log;
}

}  // namespace
}  // namespace tertulia::testing
