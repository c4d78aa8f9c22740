#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "protocol/transcript_rendering.h"
#include "running_service.h"
#include "service/charset.h"
#include "service/visitor_api.h"
#include "tests/support/service_process.h"
#include "tests/support/table_rows.h"

namespace tertulia::testing {
namespace {

// Opens a conversation the way the visitor page does and returns its id and token.
std::pair<int, std::string> OpenVisitorConversation(const RunningService& service,
                                                    const std::string& name) {
    const auto reply = service.Client()->Post(
        "/api/conversaciones", httplib::Params{{"empresa", "demo"}, {"nombre", name}});
    if (!reply || reply->status != 201) throw std::runtime_error("visitor conversation refused");
    const std::string& body = reply->body;
    const std::size_t idAt = body.find("\"id\":") + 5;
    const std::size_t tokenAt = body.find("\"token\":\"") + 9;
    return {std::stoi(body.substr(idAt)), body.substr(tokenAt, body.find('"', tokenAt) - tokenAt)};
}

void VisitorWrites(const RunningService& service, int id, const std::string& token,
                   const std::string& text) {
    const auto reply =
        service.Client()->Post(("/api/conversaciones/" + std::to_string(id) + "/mensajes").c_str(),
                               httplib::Params{{"token", token}, {"texto", text}});
    if (!reply || reply->status != 200) throw std::runtime_error("visitor line refused");
}

std::string Chat(const std::string& session, int id, const std::string& extra = "") {
    return "/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + session +
           "&idsesionclt=" + std::to_string(id) + extra;
}

TEST(OperatorFlow, login_news_transcript_send_and_close) {
    RunningService service;
    const std::string session = service.Login();
    EXPECT_EQ(session.size(), 32u);
    EXPECT_EQ(session.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(service.Login(), session);

    const std::string news = "/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + session;
    EXPECT_EQ(service.Body(news), "OK lineas=,");

    const auto [ana, anaToken] = OpenVisitorConversation(service, "Ana");
    const auto [jose, joseToken] = OpenVisitorConversation(service, "José = Pepe");
    // Names go to the news list as Windows-1252 bytes, unescaped, in order of opening.
    const std::string both =
        std::to_string(ana) + "=Ana|" + std::to_string(jose) + "=Jos\xE9 = Pepe|";
    EXPECT_EQ(service.Body(news),
              "OK lineas=" + std::to_string(ana) + ":0;" + std::to_string(jose) + ":0," + both);

    EXPECT_EQ(service.Body(Chat(session, ana)), "");
    VisitorWrites(service, ana, anaToken, "¿Tienen envíos a Cádiz?");
    EXPECT_EQ(service.Body(Chat(session, ana)),
              "<b>Ana</b>: &iquest;Tienen env&iacute;os a C&aacute;diz?");
    VisitorWrites(service, jose, joseToken, "hola");
    VisitorWrites(service, jose, joseToken, "¿hay alguien?");
    // Before the first ",", the visitors' line counts, which older consoles skip.
    EXPECT_EQ(service.Body(news),
              "OK lineas=" + std::to_string(ana) + ":1;" + std::to_string(jose) + ":2," + both);

    // The console's encoding of "Sí, a toda España & más <pronto>" after it dropped the accents.
    const std::string sent =
        Chat(session, ana, "&mensaje=S%2C%20a%20toda%20Espa%F1a%20%26%20m%20%3Cpronto%3E");
    const std::string expected =
        "<b>Ana</b>: &iquest;Tienen env&iacute;os a C&aacute;diz?<br>"
        "<b>Operador</b>: S, a toda Espa&ntilde;a &amp; m &lt;pronto&gt;";
    EXPECT_EQ(service.Body(sent), expected);
    EXPECT_EQ(service.Body(Chat(session, ana)), expected);

    // The visitor sees the operator's line in UTF-8.
    const std::string visitorView =
        service.Body("/api/conversaciones/" + std::to_string(ana) + "?token=" + anaToken);
    EXPECT_EQ(visitorView,
              "{\"abierta\":true,\"mensajes\":["
              "{\"autor\":\"visitante\",\"texto\":\"¿Tienen envíos a Cádiz?\"},"
              "{\"autor\":\"operador\",\"texto\":\"S, a toda España & m <pronto>\"}]}");

    const std::string drop = "/tertulia.php?accion=dropclt&idempresa=demo&idsesion=" + session +
                             "&idsesionclt=" + std::to_string(ana);
    EXPECT_EQ(service.Body(drop), "OK");
    // Closed on the service, which the news says for a while where older consoles skip it.
    const std::string joseListed = std::to_string(jose) + "=Jos\xE9 = Pepe|";
    EXPECT_EQ(service.Body(news), "OK lineas=" + std::to_string(jose) +
                                      ":2;cerrada=" + std::to_string(ana) + "," + joseListed);
    // Closed, it lets a window go: the close answers OK again, and the transcript says it ended,
    // also to a line sent into it, which is not stored.
    EXPECT_EQ(service.Body(drop), "OK");
    const std::string ended =
        "Tertulia: La conversaci\xF3n ha terminado. Ci\xE9rrela con \xAB"
        "Cerrar y Borrar "
        "Historial\xBB.";
    for (const std::string& request : {Chat(session, ana), Chat(session, ana) + "&mensaje=hola"}) {
        const std::string shown = RenderizarTranscripcion(service.Body(request));
        EXPECT_TRUE(shown.ends_with("\r\n" + ended)) << shown;
        EXPECT_EQ(shown.find("hola"), std::string::npos) << shown;
    }
    EXPECT_EQ(service.Body("/api/conversaciones/" + std::to_string(ana) + "?token=" + anaToken)
                  .substr(0, 18),
              "{\"abierta\":false,\"");
    service.now += OperatorApi::kClosedNewsSeconds + 1;
    EXPECT_EQ(service.Body(news), "OK lineas=" + std::to_string(jose) + ":2," + joseListed);
}

TEST(OperatorFlow, a_line_the_console_emptied_stores_nothing) {
    RunningService service;
    const std::string session = service.Login();
    const auto [id, token] = OpenVisitorConversation(service, "Ana");
    VisitorWrites(service, id, token, "hola");
    EXPECT_EQ(service.Body(Chat(session, id, "&mensaje=")), "<b>Ana</b>: hola");
}

TEST(OperatorFlow, transcript_escapes_every_character_the_console_decodes) {
    RunningService service;
    const std::string session = service.Login();
    const auto [id, token] = OpenVisitorConversation(service, "<Eva & \"Ñ\">");
    VisitorWrites(service, id, token, "a\u00A0b ¡ÿ! € 日本 'x'");
    // The no-break space and the euro sign as their own Windows-1252 bytes, since no entity
    // decodes to them; what Windows-1252 cannot hold as "?".
    EXPECT_EQ(service.Body(Chat(session, id)),
              "<b>&lt;Eva &amp; &quot;&Ntilde;&quot;&gt;</b>: "
              "a\xA0"
              "b &iexcl;&yuml;! \x80 ?? 'x'");
}

TEST(OperatorFlow, sessions_lapse_after_thirty_idle_minutes) {
    RunningService service;
    const std::string session = service.Login();
    const std::string news = "/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + session;
    service.now += 29 * 60;
    EXPECT_EQ(service.Body(news), "OK lineas=,");
    // Each request starts the thirty minutes again.
    service.now += 29 * 60;
    EXPECT_EQ(service.Body(news), "OK lineas=,");
    service.now += 31 * 60;
    EXPECT_TRUE(service.Body(news).starts_with("ERROR."));
}

TEST(OperatorFlow, a_session_serves_only_its_own_company) {
    RunningService service;
    RegisterCompany(service.storage().companies, "otra", "clave-de-otra");
    const std::string demoSession = service.Login();
    const auto [id, token] = OpenVisitorConversation(service, "Ana");
    const std::string otherSession =
        service.Body("/tertulia.php?accion=do_login&idempresa=otra&contrasena=" +
                     Md5TextOfString("clave-de-otra"));
    ASSERT_TRUE(otherSession.starts_with("OK="));
    const std::string other = otherSession.substr(3);

    EXPECT_TRUE(service.Body("/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + other)
                    .starts_with("ERROR."));
    EXPECT_EQ(service.Body("/tertulia.php?accion=get_news&idempresa=otra&idsesion=" + other),
              "OK lineas=,");
    const std::string foreign = "/tertulia.php?accion=getchat&idempresa=otra&idsesion=" + other +
                                "&idsesionclt=" + std::to_string(id) + "&mensaje=intruso";
    EXPECT_TRUE(service.Body(foreign).starts_with("ERROR"));
    EXPECT_TRUE(service
                    .Body("/tertulia.php?accion=dropclt&idempresa=otra&idsesion=" + other +
                          "&idsesionclt=" + std::to_string(id))
                    .starts_with("ERROR"));
    EXPECT_EQ(service.Body(Chat(demoSession, id)), "");
}

TEST(OperatorFlow, a_second_service_cannot_take_a_port_in_use) {
    RunningService service;
    TemporaryDirectory other;
    ServiceConfig config;
    config.storage = Storage::Open(other.path() + "/service.db", {});
    Service second(std::move(config));
    EXPECT_THROW(second.Bind("127.0.0.1", service.port()), std::runtime_error);
    EXPECT_EQ(
        service.Body("/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + service.Login()),
        "OK lineas=,");
}

struct BadOperatorRequest {
    const char* name;
    std::string query;  // after "/tertulia.php?"; SESSION stands for a live session id
    std::string replyStart;
};

TEST(OperatorFlow, bad_requests_get_an_error_reply_and_store_nothing) {
    RunningService service;
    const std::string session = service.Login();
    const auto [id, token] = OpenVisitorConversation(service, "Ana");
    const std::string conv = std::to_string(id);
    const std::string digest = Md5TextOfString("demo");
    const std::string chat = "accion=getchat&idempresa=demo&idsesion=SESSION&idsesionclt=" + conv;
    const std::vector<BadOperatorRequest> rows = {
        {"no_action", "idempresa=demo", "ERROR: "},
        {"unknown_action", "accion=borrar_todo&idempresa=demo", "ERROR: "},
        {"action_in_upper_case", "accion=DO_LOGIN&idempresa=demo&contrasena=" + digest, "ERROR: "},
        {"wrong_password", "accion=do_login&idempresa=demo&contrasena=" + Md5TextOfString("x"),
         "ERROR: "},
        {"digest_in_lower_case",
         "accion=do_login&idempresa=demo&contrasena=fe01ce2a7fbac8fafaed7c982a04e229", "ERROR: "},
        {"the_bare_password", "accion=do_login&idempresa=demo&contrasena=demo", "ERROR: "},
        {"unknown_company", "accion=do_login&idempresa=nadie&contrasena=" + digest, "ERROR: "},
        {"login_without_password", "accion=do_login&idempresa=demo", "ERROR: "},
        {"repeated_company", "accion=do_login&idempresa=demo&idempresa=demo&contrasena=" + digest,
         "ERROR: "},
        {"unknown_session", "accion=get_news&idempresa=demo&idsesion=0123", "ERROR."},
        {"empty_session", "accion=get_news&idempresa=demo&idsesion=", "ERROR."},
        {"session_of_other_code", "accion=get_news&idempresa=Demo&idsesion=SESSION", "ERROR."},
        {"news_without_session", "accion=get_news&idempresa=demo", "ERROR: "},
        {"unknown_conversation", "accion=getchat&idempresa=demo&idsesion=SESSION&idsesionclt=999",
         "ERROR: "},
        {"conversation_id_not_a_number",
         "accion=getchat&idempresa=demo&idsesion=SESSION&idsesionclt=1x", "ERROR: "},
        {"conversation_id_too_large",
         "accion=getchat&idempresa=demo&idsesion=SESSION&idsesionclt=99999999999", "ERROR: "},
        {"repeated_line", chat + "&mensaje=a&mensaje=b", "ERROR: "},
        {"repeated_conversation", chat + "&idsesionclt=" + conv + "&mensaje=a", "ERROR: "},
        {"malformed_escape", chat + "&mensaje=100%", "ERROR: "},
        {"escape_with_one_digit", chat + "&mensaje=%4", "ERROR: "},
        {"escape_not_hexadecimal", chat + "&mensaje=%G1", "ERROR: "},
        {"control_character_in_line", chat + "&mensaje=a%0Ab", "ERROR: "},
        {"line_over_2000_characters", chat + "&mensaje=" + std::string(2001, 'a'), "ERROR: "},
        {"close_unknown_conversation",
         "accion=dropclt&idempresa=demo&idsesion=SESSION&idsesionclt=999", "ERROR: "},
        // A stream's request that names no session, or does not parse, is no stream.
        {"stream_without_session", "accion=eventos&idempresa=demo", "ERROR: "},
        {"stream_without_company", "accion=eventos&idsesion=SESSION", "ERROR: "},
        {"stream_with_malformed_escape", "accion=eventos&idempresa=demo&idsesion=SESSION&x=%G1",
         "ERROR: "},
        {"stream_with_repeated_session",
         "accion=eventos&idempresa=demo&idsesion=SESSION&idsesion=SESSION", "ERROR: "},
    };
    ForEachRow(rows, [&](const BadOperatorRequest& row) {
        std::string query = row.query;
        if (const auto at = query.find("SESSION"); at != std::string::npos) {
            query.replace(at, 7, session);
        }
        EXPECT_TRUE(service.Body("/tertulia.php?" + query).starts_with(row.replyStart));
    });
    // Nothing of it was stored, the conversation is still open, and the service still serves.
    EXPECT_EQ(service.Body(Chat(session, id)), "");
    EXPECT_EQ(service.Body(Chat(session, id, "&mensaje=" + std::string(2000, 'a'))),
              "<b>Operador</b>: " + std::string(2000, 'a'));
}

TEST(OperatorFlow, error_replies_are_spanish_windows_1252) {
    RunningService service;
    EXPECT_EQ(service.Body("/tertulia.php?accion=do_login&idempresa=demo&contrasena=x"),
              "ERROR: C\xF3"
              "digo de empresa o contrase\xF1"
              "a incorrectos.");
    EXPECT_EQ(service.Body("/tertulia.php?accion=get_news&idempresa=demo&idsesion=x"),
              "ERROR. La sesi\xF3n no existe o ha caducado; con\xE9"
              "ctese de nuevo.");
}

class UpdateCheck : public ::testing::Test {
  protected:
    static UpdateOffer Offer(const std::string& directory, const std::string& version) {
        const std::string file = directory + "/tertulia-nueva";
        std::ofstream(file, std::ios::binary) << std::string("MZ\0\x01nuevo programa\xFF", 19);
        return UpdateOffer::Load(file, version);
    }
};

TEST_F(UpdateCheck, an_older_console_is_sent_the_digest_and_the_address_of_the_new_build) {
    TemporaryDirectory files;
    RunningService service(Offer(files.path(), "1.2"));
    const std::string reply = service.Body("/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1");
    const std::string bytes("MZ\0\x01nuevo programa\xFF", 19);
    const std::string origin = "http://127.0.0.1:" + std::to_string(service.port());
    EXPECT_EQ(reply, "DESACTUALIZADA." + Md5TextOfString(bytes) + "," + origin +
                         "/gl/descargas/tertulia-1.2");

    // The address is used verbatim, and its bytes have the announced digest.
    const std::string address = reply.substr(reply.find(',') + 1);
    EXPECT_EQ(service.Body(address.substr(origin.size())), bytes);
}

TEST_F(UpdateCheck, the_address_follows_the_host_the_console_used) {
    TemporaryDirectory files;
    RunningService service(Offer(files.path(), "2.0"));
    const auto reply = service.Client()->Get("/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1",
                                             {{"Host", "chat.example.com:8080"}});
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->body.ends_with(",http://chat.example.com:8080/gl/descargas/tertulia-2.0"));
}

struct VersionRow {
    const char* name;
    const char* offered;  // nullptr: no update offered
    std::string query;
    std::string reply;
};

TEST_F(UpdateCheck, versions_and_malformed_checks) {
    const std::vector<VersionRow> rows = {
        {"no_offer", nullptr, "accion=check&prgid=TR&ver=1&rel=1", "ACTUALIZADA."},
        {"same_version", "1.1", "accion=check&prgid=TR&ver=1&rel=1", "ACTUALIZADA."},
        {"newer_console", "1.1", "accion=check&prgid=TR&ver=2&rel=0", "ACTUALIZADA."},
        {"older_release", "1.2", "accion=check&prgid=TR&ver=1&rel=1", "DESACTUALIZADA."},
        {"older_version_higher_release", "2.0", "accion=check&prgid=TR&ver=1&rel=9",
         "DESACTUALIZADA."},
        {"release_compared_as_number", "1.10", "accion=check&prgid=TR&ver=1&rel=9",
         "DESACTUALIZADA."},
        {"other_program", "1.2", "accion=check&prgid=XX&ver=1&rel=1", "ERROR: "},
        {"missing_release", "1.2", "accion=check&prgid=TR&ver=1", "ERROR: "},
        {"version_not_a_number", "1.2", "accion=check&prgid=TR&ver=uno&rel=1", "ERROR: "},
        {"other_action", "1.2", "accion=borrar&prgid=TR&ver=1&rel=1", "ERROR: "},
    };
    ForEachRow(rows, [&](const VersionRow& row) {
        TemporaryDirectory files;
        std::optional<UpdateOffer> offer;
        if (row.offered) offer = Offer(files.path(), row.offered);
        RunningService service(std::move(offer));
        EXPECT_TRUE(service.Body("/gl/chkupdate.php?" + row.query).starts_with(row.reply));
    });
}

// Two consoles, A and B, of the demo company on the real service, and its visitor Ana.
struct TwoConsoles {
    explicit TwoConsoles(std::vector<std::string> arguments = {})
        : service({.arguments = std::move(arguments)}),
          a(service.Login()),
          b(service.Login()),
          ana(OpenConversation(service.Port(), "Ana")) {}

    std::string Ask(const std::string& action, const std::string& session,
                    const std::string& extra = "") const {
        return service.Body("/tertulia.php?accion=" + action + "&idempresa=demo&idsesion=" +
                            session + "&idsesionclt=" + ana.id + extra);
    }
    std::string News(const std::string& session) const { return Ask("get_news", session); }
    std::string Chat(const std::string& session, const std::string& extra = "") const {
        return Ask("getchat", session, extra);
    }
    // The news that lists Ana with the lines she wrote.
    std::string Listed(int lines) const {
        return "OK lineas=" + ana.id + ":" + std::to_string(lines) + "," + ana.id + "=Ana|";
    }
    std::string Database() const { return service.Directory() + "/service.db"; }

    ServiceProcess service;
    std::string a;
    std::string b;
    VisitorConversation ana;
};

const std::string kOtherConsole = Windows1252FromUtf8(
    "Tertulia: Esta conversación la atiende otra consola. Ciérrela con «Cerrar y Borrar "
    "Historial».");

TEST(OperatorFlow, the_first_console_to_list_a_conversation_answers_it_alone) {
    const TwoConsoles consoles;
    EXPECT_EQ(consoles.News(consoles.a), consoles.Listed(0));
    EXPECT_EQ(consoles.News(consoles.b), "OK lineas=,") << "A's news gave it to A";
    EXPECT_EQ(consoles.Chat(consoles.a), "");
    // B polled at the same moment and opened a window: told to let it go, its line unstored.
    for (const std::string extra : {"", "&mensaje=yo%20la%20atiendo"}) {
        EXPECT_EQ(RenderizarTranscripcion(consoles.Chat(consoles.b, extra)), kOtherConsole);
    }
    EXPECT_EQ(consoles.Ask("dropclt", consoles.b), "OK");
    ASSERT_TRUE(VisitorWrites(consoles.service.Port(), consoles.ana, "hola"));
    EXPECT_EQ(consoles.News(consoles.a), consoles.Listed(1));
    EXPECT_EQ(consoles.Chat(consoles.a, "&mensaje=buenas"),
              "<b>Ana</b>: hola<br><b>Operador</b>: buenas");
    EXPECT_EQ(consoles.News(consoles.b), "OK lineas=,");
}

// So that a console tells a conversation that closed from one that another console took.
TEST(OperatorFlow, the_news_names_a_closed_conversation_to_the_consoles_that_may_hold_it) {
    const TwoConsoles consoles;
    EXPECT_EQ(consoles.News(consoles.a), consoles.Listed(0));
    EXPECT_EQ(consoles.Ask("dropclt", consoles.a), "OK");
    EXPECT_EQ(consoles.News(consoles.a), "OK lineas=cerrada=" + consoles.ana.id + ",");
    EXPECT_EQ(consoles.News(consoles.b), "OK lineas=,") << "A's, not B's";
}

TEST(OperatorFlow, a_conversation_whose_console_went_silent_goes_to_another) {
    const TwoConsoles consoles({"--owner-silence", "3"});
    EXPECT_EQ(consoles.Chat(consoles.a, "&mensaje=buenas"), "<b>Operador</b>: buenas");
    EXPECT_EQ(consoles.News(consoles.b), "OK lineas=,");
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_EQ(consoles.News(consoles.b), consoles.Listed(0));
    EXPECT_EQ(consoles.Chat(consoles.b), "<b>Operador</b>: buenas");
    EXPECT_EQ(RenderizarTranscripcion(consoles.Chat(consoles.a)), kOtherConsole);
    EXPECT_EQ(consoles.News(consoles.a), "OK lineas=,");
}

// The same console program logging in again (its cookie jar keeps the service's cookie) keeps
// its conversations; another console does not get them.
TEST(OperatorFlow, a_console_that_logs_in_again_keeps_its_conversations) {
    const TwoConsoles consoles;
    const auto login = [&](const httplib::Headers& headers) {
        const auto reply = LoopbackClient(consoles.service.Port())
                               ->Get("/tertulia.php?accion=do_login&idempresa=demo&contrasena=" +
                                         Md5TextOfString("demo"),
                                     headers);
        return std::pair(reply->body.substr(3), reply->get_header_value("Set-Cookie"));
    };
    const auto [first, cookie] = login({});
    ASSERT_TRUE(cookie.starts_with("tertulia_consola=")) << cookie;
    EXPECT_EQ(consoles.News(first), consoles.Listed(0));
    const auto [again, none] = login({{"Cookie", "otra=1; " + cookie.substr(0, cookie.find(';'))}});
    EXPECT_EQ(none, "") << "the console keeps its cookie";
    EXPECT_EQ(consoles.News(again), consoles.Listed(0));
    EXPECT_EQ(consoles.Chat(again, "&mensaje=sigo"), "<b>Operador</b>: sigo");
    EXPECT_EQ(consoles.News(consoles.a), "OK lineas=,");
}

// A console started again after a crash logs in with the key it keeps: the session it left ends
// and it answers its visitors at once; a malformed key counts as none.
TEST(OperatorFlow, a_login_with_a_console_key_takes_over_the_session_of_that_key) {
    const TwoConsoles consoles;
    const std::string key = "0123456789abcdef0123456789ABCDEF";
    const auto login = [&](const std::string& extra) {
        const std::string reply = consoles.service.Body(
            "/tertulia.php?accion=do_login&idempresa=demo&contrasena=" + Md5TextOfString("demo") +
            extra);
        EXPECT_TRUE(reply.starts_with("OK=")) << reply;
        return reply.substr(3);
    };
    const std::string crashed = login("&consola=" + key);
    EXPECT_EQ(consoles.News(crashed), consoles.Listed(0));
    const std::string malformed = login("&consola=" + key.substr(1));
    EXPECT_EQ(consoles.News(malformed), "OK lineas=,");
    EXPECT_EQ(consoles.News(crashed), consoles.Listed(0)) << "no key: the session goes on";

    const std::string restarted = login("&consola=0123456789ABCDEF0123456789abcdef");
    EXPECT_EQ(consoles.News(restarted), consoles.Listed(0)) << "letter case does not matter";
    EXPECT_EQ(consoles.News(crashed).substr(0, 6), "ERROR.") << "the session of the key has ended";
    EXPECT_EQ(consoles.News(consoles.a), "OK lineas=,");
}

// The reply to a send whose line was not stored says so in a header; the text says why.
TEST(OperatorFlow, a_send_whose_line_was_not_stored_says_so_in_a_header) {
    const TwoConsoles consoles({"--lines-per-conversation", "1"});
    const auto header = [&](const std::string& session, const std::string& extra) {
        const auto reply =
            LoopbackClient(consoles.service.Port())
                ->Get("/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + session +
                      "&idsesionclt=" + consoles.ana.id + extra);
        return reply->get_header_value("Tertulia-Linea");
    };
    struct Row {
        const char* name;
        std::string session;
        std::string extra;
        std::string header;
    };
    const Row rows[] = {
        {"a poll carries no line", consoles.a, "", ""},
        {"a line the encoding emptied", consoles.a, "&mensaje=", ""},
        {"stored", consoles.a, "&mensaje=uno", ""},
        {"the conversation's limit", consoles.a, "&mensaje=dos", "no-guardada"},
        {"another console's conversation", consoles.b, "&mensaje=tres", "no-guardada"},
        {"too long", consoles.a, "&mensaje=" + std::string(2001, 'x'), "no-guardada"},
        {"a session that is gone", "nadie", "&mensaje=cuatro", "no-guardada"},
    };
    ForEachRow(rows, [&](const Row& row) {
        EXPECT_EQ(header(row.session, row.extra), row.header) << row.name;
    });
    EXPECT_EQ(consoles.Ask("dropclt", consoles.a), "OK");
    EXPECT_EQ(header(consoles.a, "&mensaje=cinco"), "no-guardada") << "a closed conversation";
}

TEST(OperatorFlow, only_the_console_that_answers_a_conversation_says_it_types) {
    const TwoConsoles consoles;
    ASSERT_EQ(consoles.News(consoles.a), consoles.Listed(0));
    struct Row {
        const char* name;
        std::string session;
        std::string reply;
    };
    const std::vector<Row> rows = {
        {"the_owner", consoles.a, "OK"},
        {"another_console", consoles.b,
         Windows1252FromUtf8("ERROR: La conversación " + consoles.ana.id +
                             " la atiende otra consola.")},
        {"a_session_that_is_gone", "nadie",
         Windows1252FromUtf8("ERROR. La sesión no existe o ha caducado; conéctese de nuevo.")},
    };
    ForEachRow(rows, [&](const Row& row) {
        EXPECT_EQ(consoles.Ask("escribiendo", row.session), row.reply);
    });
    EXPECT_EQ(consoles.Ask("dropclt", consoles.a), "OK");
    EXPECT_EQ(consoles.Ask("escribiendo", consoles.a),
              Windows1252FromUtf8("ERROR: La conversación " + consoles.ana.id + " está cerrada."));
}

// A console hands its conversation on only while another console is there; the other lists
// it at once with the service's line, and the console that handed it on does not.
TEST(OperatorFlow, a_console_hands_its_conversation_on_to_another) {
    const TwoConsoles consoles;
    ASSERT_EQ(consoles.Ask("do_logout", consoles.b), "OK");
    EXPECT_EQ(consoles.Ask("consolas", consoles.a), "0");
    EXPECT_EQ(consoles.News(consoles.a), consoles.Listed(0));
    const std::string alone = "ERROR: No hay otra consola conectada.";
    EXPECT_EQ(consoles.Ask("ceder", consoles.a), alone);

    const std::string c = consoles.service.Login();
    EXPECT_EQ(consoles.Ask("consolas", consoles.a), "1");
    EXPECT_EQ(consoles.Ask("ceder", c),
              Windows1252FromUtf8("ERROR: La conversación " + consoles.ana.id +
                                  " la atiende otra consola."));
    EXPECT_EQ(consoles.Ask("ceder", consoles.a), "OK");
    EXPECT_EQ(consoles.News(consoles.a), "OK lineas=,");
    EXPECT_EQ(consoles.News(c), consoles.Listed(0));
    EXPECT_EQ(RenderizarTranscripcion(consoles.Chat(c)),
              Windows1252FromUtf8("Tertulia: La conversación pasa a otra consola."));
    EXPECT_EQ(RenderizarTranscripcion(consoles.Chat(consoles.a)), kOtherConsole);
    EXPECT_EQ(consoles.Ask("dropclt", c), "OK");
    EXPECT_EQ(consoles.Ask("ceder", c),
              Windows1252FromUtf8("ERROR: La conversación " + consoles.ana.id + " está cerrada."));
}

// Answers stored by the command reach the consoles in Windows-1252, sorted by their shortcuts.
TEST(OperatorFlow, ready_answers_set_by_command_are_listed_to_the_consoles) {
    const TwoConsoles consoles;
    EXPECT_EQ(consoles.Ask("respuestas", consoles.a), "");
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        std::string input;
        int status;
    };
    const std::vector<Row> rows = {
        {"added", {"company-reply", "demo", "add", "Salu-do"}, "Buenos días,\r\n¿qué tal?\n", 0},
        {"another", {"company-reply", "demo", "add", "adios"}, "Adiós | hasta pronto\n", 0},
        {"replaced", {"company-reply", "demo", "add", "ADIOS"}, "Adiós € 日本", 0},
        {"a_shortcut_with_a_blank", {"company-reply", "demo", "add", "a b"}, "x", 2},
        {"a_shortcut_too_long", {"company-reply", "demo", "add", std::string(31, 'a')}, "x", 2},
        {"no_text", {"company-reply", "demo", "add", "vacia"}, "\n\n", 1},
        {"a_control_character", {"company-reply", "demo", "add", "tab"}, "a\tb", 1},
        {"text_too_long", {"company-reply", "demo", "add", "larga"}, std::string(2001, 'x'), 1},
        {"not_utf8", {"company-reply", "demo", "add", "latin"}, "\xE1", 1},
        {"no_company", {"company-reply", "nadie", "add", "hola"}, "hola", 1},
        {"removing_an_unknown_one", {"company-reply", "demo", "remove", "nada"}, "", 1},
        {"no_action", {"company-reply", "demo", "borrar", "hola"}, "", 2},
        {"added_then", {"company-reply", "demo", "add", "quitar"}, "x", 0},
        {"removed", {"company-reply", "demo", "remove", "Quitar"}, "", 0},
        {"listed", {"company-replies", "demo"}, "", 0},
        {"listed_of_no_company", {"company-replies", "nadie"}, "", 1},
    };
    ForEachRow(rows, [&](const Row& row) {
        std::vector<std::string> arguments = row.arguments;
        arguments.insert(arguments.end(), {"--db", consoles.Database()});
        EXPECT_EQ(RunService(arguments, row.input), row.status);
    });
    EXPECT_EQ(consoles.Ask("respuestas", consoles.a),
              "adios|Adi\xF3s \x80 ??\nsalu-do|Buenos d\xED"
              "as,<br>\xBFqu\xE9 tal?\n");
    EXPECT_EQ(consoles.Ask("respuestas", "nadie").substr(0, 6), "ERROR.");
}

TEST(OperatorFlow, with_reparto_todos_every_console_answers_every_visitor) {
    const TwoConsoles consoles;
    for (const std::string wrong : {"reparto=algunos", "turnos=uno"}) {
        EXPECT_EQ(RunService({"company-option", "demo", wrong, "--db", consoles.Database()}), 2);
    }
    EXPECT_EQ(RunService({"company-option", "nadie", "reparto=todos", "--db", consoles.Database()}),
              1);
    ASSERT_EQ(RunService({"company-option", "demo", "reparto=todos", "--db", consoles.Database()}),
              0);
    EXPECT_EQ(Storage::Open(consoles.Database(), {})->companies.CompanyOptions("demo"),
              std::vector<std::string>{"reparto=todos"});
    EXPECT_EQ(RunService({"company-option", "demo", "nombre=" + std::string(101, 'a'), "--db",
                          consoles.Database()}),
              2);
    ASSERT_EQ(
        RunService({"company-option", "demo", "nombre=Acme, S.A.", "--db", consoles.Database()}),
        0);
    EXPECT_EQ(Storage::Open(consoles.Database(), {})->companies.CompanyOptions("demo"),
              (std::vector<std::string>{"reparto=todos", "nombre=Acme, S.A."}));
    EXPECT_EQ(consoles.service.Body("/api/empresas/demo"),
              "{\"nombre\":\"Acme, S.A.\",\"atendida\":true}");
    EXPECT_EQ(consoles.Chat(consoles.a, "&mensaje=uno"), "<b>Operador</b>: uno");
    EXPECT_EQ(consoles.News(consoles.b), consoles.Listed(0));
    const std::string both = "<b>Operador</b>: uno<br><b>Operador</b>: dos";
    EXPECT_EQ(consoles.Chat(consoles.b, "&mensaje=dos"), both);
    EXPECT_EQ(consoles.Chat(consoles.a), both);
    EXPECT_EQ(consoles.Ask("escribiendo", consoles.b), "OK") << "every console answers";
    // Handing on only tells the others, who see it already.
    EXPECT_EQ(consoles.Ask("ceder", consoles.a), "OK");
    EXPECT_EQ(consoles.News(consoles.a), consoles.Listed(0));
    EXPECT_TRUE(
        RenderizarTranscripcion(consoles.Chat(consoles.b))
            .ends_with(Windows1252FromUtf8("Tertulia: La conversación pasa a otra consola.")));
}

}  // namespace
}  // namespace tertulia::testing
