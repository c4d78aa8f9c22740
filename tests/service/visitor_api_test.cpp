#include <gtest/gtest.h>

#include "protocol/transcript_rendering.h"
#include "running_service.h"
#include "service/charset.h"
#include "tests/support/service_process.h"
#include "tests/support/table_rows.h"

namespace tertulia::testing {
namespace {

struct Reply {
    int status = 0;
    std::string body;
    std::string allowOrigin;  // Access-Control-Allow-Origin
};

Reply Post(const RunningService& service, const std::string& path, const std::string& form,
           const char* type = "application/x-www-form-urlencoded") {
    const auto reply = service.Client()->Post(path.c_str(), form, type);
    if (!reply) throw std::runtime_error("no reply");
    return {reply->status, reply->body, reply->get_header_value("Access-Control-Allow-Origin")};
}

Reply Get(const RunningService& service, const std::string& target) {
    const auto reply = service.Client()->Get(target.c_str());
    if (!reply) throw std::runtime_error("no reply");
    EXPECT_FALSE(reply->has_header("Access-Control-Allow-Credentials")) << target;
    return {reply->status, reply->body, reply->get_header_value("Access-Control-Allow-Origin")};
}

TEST(VisitorApi, a_visitor_opens_writes_and_reads_back) {
    RunningService service;
    const Reply opened = Post(service, "/api/conversaciones", "empresa=demo&nombre=Mar%C3%ADa+L.");
    ASSERT_EQ(opened.status, 201);
    const auto [id, token] = OpenConversation(service.port(), "Luis");
    EXPECT_EQ(token.size(), 32u);
    EXPECT_EQ(std::stoi(id), std::stoi(opened.body.substr(6)) + 1);

    const std::string messages = "/api/conversaciones/" + id + "/mensajes";
    EXPECT_EQ(Post(service, messages, "token=" + token + "&texto=%C2%BFHola%3F+%E2%82%AC").body,
              "{\"ok\":true}");
    // Leading and trailing white space is not kept.
    EXPECT_EQ(Post(service, messages, "texto=++%22dos%22+\\+&token=" + token).status, 200);
    const Reply read = Get(service, "/api/conversaciones/" + id + "?token=" + token);
    EXPECT_EQ(read.status, 200);
    EXPECT_EQ(read.body,
              "{\"abierta\":true,\"mensajes\":["
              "{\"autor\":\"visitante\",\"texto\":\"¿Hola? €\"},"
              "{\"autor\":\"visitante\",\"texto\":\"\\\"dos\\\" \\\\\"}]}");

    const std::string session = service.Login();
    EXPECT_EQ(service.Body("/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + session +
                           "&idsesionclt=" + id),
              "<b>Luis</b>: &iquest;Hola? \x80<br><b>Luis</b>: &quot;dos&quot; \\");
}

// Neither side can store what would turn or break the rest of a line, or a control character.
TEST(VisitorApi, lines_from_either_side_are_stored_without_overrides_or_controls) {
    RunningService service;
    const auto [id, token] = OpenConversation(service.port(), "Ana");
    EXPECT_EQ(Post(service, "/api/conversaciones/" + id + "/mensajes",
                   "token=" + token +
                       "&texto=%E2%80%AEa%E2%80%8Bb%E2%80%A8c%C2%85d+%C2%A1%C3%B1%C3%BC%C2%BB")
                  .status,
              200);
    EXPECT_EQ(Post(service, "/api/conversaciones/" + id + "/mensajes",
                   "token=" + token + "&texto=%E2%80%8B+%E2%80%8F")
                  .status,
              400)
        << "nothing left";
    const std::string chat =
        "/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + service.Login() +
        "&idsesionclt=" + id;
    service.Body(chat + "&mensaje=%81s%8D%8F%ED%90%9D");
    service.Body(chat + "&mensaje=%81%9D");
    EXPECT_EQ(Get(service, "/api/conversaciones/" + id + "?token=" + token).body,
              "{\"abierta\":true,\"mensajes\":["
              "{\"autor\":\"visitante\",\"texto\":\"\uFFFDab\uFFFDc\uFFFDd ¡ñü»\"},"
              "{\"autor\":\"operador\",\"texto\":\"sí\"}]}");
}

TEST(VisitorApi, a_wrong_token_never_reaches_another_conversation) {
    RunningService service;
    const auto [first, firstToken] = OpenConversation(service.port(), "Ana");
    const auto [second, secondToken] = OpenConversation(service.port(), "Eva");
    Post(service, "/api/conversaciones/" + first + "/mensajes",
         "token=" + firstToken + "&texto=mio");

    const std::vector<std::pair<std::string, std::string>> attempts = {
        {first, secondToken},
        {second, firstToken},
        {first, ""},
        {first, firstToken + "0"},
        {first, std::string(firstToken.rbegin(), firstToken.rend())}};
    for (const auto& [id, token] : attempts) {
        const Reply read = Get(service, "/api/conversaciones/" + id + "?token=" + token);
        EXPECT_EQ(read.status, 404) << id << " " << token;
        EXPECT_EQ(read.body.find("mio"), std::string::npos);
        const Reply write =
            Post(service, "/api/conversaciones/" + id + "/mensajes", "token=" + token + "&texto=x");
        EXPECT_EQ(write.status, 404);
        EXPECT_EQ(write.body, read.body) << "a wrong token looks like a missing conversation";
    }
    EXPECT_EQ(Get(service, "/api/conversaciones/" + first + "?token=" + firstToken).body,
              "{\"abierta\":true,\"mensajes\":[{\"autor\":\"visitante\",\"texto\":\"mio\"}]}");
    EXPECT_EQ(Get(service, "/api/conversaciones/" + second + "?token=" + secondToken).body,
              "{\"abierta\":true,\"mensajes\":[]}");
}

TEST(VisitorApi, a_closed_conversation_takes_no_more_lines) {
    RunningService service;
    const auto [id, token] = OpenConversation(service.port(), "Ana");
    const std::string session = service.Login();
    EXPECT_EQ(service.Body("/tertulia.php?accion=dropclt&idempresa=demo&idsesion=" + session +
                           "&idsesionclt=" + id),
              "OK");
    const Reply write =
        Post(service, "/api/conversaciones/" + id + "/mensajes", "token=" + token + "&texto=hola");
    EXPECT_EQ(write.status, 409);
    EXPECT_EQ(Get(service, "/api/conversaciones/" + id + "?token=" + token).body,
              "{\"abierta\":false,\"mensajes\":[]}");
}

struct BadVisitorRequest {
    const char* name;
    std::string path;  // ID and TOKEN stand for a live conversation
    std::string form;  // empty: a GET
    int status;
};

TEST(VisitorApi, bad_requests_get_a_json_error_and_store_nothing) {
    RunningService service;
    const auto [id, token] = OpenConversation(service.port(), "Ana");
    const std::string send = "/api/conversaciones/ID/mensajes";
    const std::vector<BadVisitorRequest> rows = {
        {"unknown_company", "/api/conversaciones", "empresa=nadie&nombre=Ana", 404},
        {"no_company", "/api/conversaciones", "nombre=Ana", 400},
        {"no_name", "/api/conversaciones", "empresa=demo", 400},
        {"empty_name", "/api/conversaciones", "empresa=demo&nombre=+++", 400},
        {"name_of_61_characters", "/api/conversaciones",
         "empresa=demo&nombre=" + std::string(61, 'a'), 400},
        {"name_with_separator", "/api/conversaciones", "empresa=demo&nombre=a%7Cb", 400},
        {"name_with_control", "/api/conversaciones", "empresa=demo&nombre=a%09b", 400},
        {"name_not_utf8", "/api/conversaciones", "empresa=demo&nombre=Jos%E9", 400},
        {"overlong_utf8", "/api/conversaciones", "empresa=demo&nombre=%C0%AF", 400},
        {"utf8_surrogate", "/api/conversaciones", "empresa=demo&nombre=%ED%A0%80", 400},
        {"repeated_name", "/api/conversaciones", "empresa=demo&nombre=a&nombre=b", 400},
        {"malformed_escape", "/api/conversaciones", "empresa=demo&nombre=50%", 400},
        {"line_of_2001_characters", send, "token=TOKEN&texto=" + std::string(2001, 'a'), 400},
        {"empty_line", send, "token=TOKEN&texto=", 400},
        {"line_with_line_break", send, "token=TOKEN&texto=a%0Ab", 400},
        {"line_not_utf8", send, "token=TOKEN&texto=%FF", 400},
        {"line_without_token", send, "texto=hola", 400},
        {"repeated_token", send, "token=TOKEN&token=TOKEN&texto=hola", 400},
        {"unknown_conversation", "/api/conversaciones/999/mensajes", "token=TOKEN&texto=a", 404},
        {"id_not_a_number", "/api/conversaciones/x1/mensajes", "token=TOKEN&texto=a", 404},
        {"read_without_token", "/api/conversaciones/ID", "", 400},
        {"read_repeated_token", "/api/conversaciones/ID?token=TOKEN&token=TOKEN", "", 400},
        {"read_id_too_large", "/api/conversaciones/4294967297?token=TOKEN", "", 404},
        {"unknown_path", "/api/otra", "", 404},
        {"contact_of_101_characters", "/api/conversaciones",
         "empresa=demo&nombre=Ana&contacto=" + std::string(101, 'a'), 400},
        {"empty_contact", "/api/conversaciones", "empresa=demo&nombre=Ana&contacto=+", 400},
        {"page_not_utf8", "/api/conversaciones", "empresa=demo&nombre=Ana&pagina=%FF", 400},
        {"unknown_company_front", "/api/empresas/nadie", "", 404},
        {"typing_without_token", "/api/conversaciones/ID/escribiendo", "token=x", 404},
        {"ending_unknown", "/api/conversaciones/999/terminar", "token=TOKEN", 404},
        {"rating_an_open_conversation", "/api/conversaciones/ID/valoracion",
         "token=TOKEN&ayudado=si", 409},
        {"rating_neither_yes_nor_no", "/api/conversaciones/ID/valoracion",
         "token=TOKEN&ayudado=quizas", 400},
        {"rating_comment_of_501_characters", "/api/conversaciones/ID/valoracion",
         "token=TOKEN&ayudado=no&comentario=" + std::string(501, 'a'), 400},
    };
    const auto fill = [&](std::string text) {
        for (const auto& [mark, value] : {std::pair{"ID", id}, std::pair{"TOKEN", token}}) {
            for (std::size_t at; (at = text.find(mark)) != std::string::npos;) {
                text.replace(at, std::string_view(mark).size(), value);
            }
        }
        return text;
    };
    ForEachRow(rows, [&](const BadVisitorRequest& row) {
        const Reply reply = row.form.empty() ? Get(service, fill(row.path))
                                             : Post(service, fill(row.path), fill(row.form));
        EXPECT_EQ(reply.status, row.status);
        EXPECT_TRUE(reply.body.starts_with("{\"error\":\"")) << reply.body;
        // Only the company's public front may be read by pages of other sites.
        EXPECT_EQ(reply.allowOrigin, row.path.starts_with("/api/empresas/") ? "*" : "");
    });
    const Reply notForm =
        Post(service, "/api/conversaciones", "{\"empresa\":\"demo\"}", "application/json");
    EXPECT_EQ(notForm.status, 415);

    // Only Ana's conversation exists, without lines, and the service still serves.
    const std::string session = service.Login();
    EXPECT_EQ(service.Body("/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + session),
              "OK lineas=" + id + ":0," + id + "=Ana|");
    EXPECT_EQ(Get(service, "/api/conversaciones/" + id + "?token=" + token).body,
              "{\"abierta\":true,\"mensajes\":[]}");
    EXPECT_EQ(
        Post(service, fill(send), "token=" + token + "&texto=" + std::string(2000, 'a')).status,
        200);
}

// The context line, the visitor's end and the page-gone line are the operator's alone; the
// rating follows the close, once.
TEST(VisitorApi, the_page_context_and_the_visitors_end_reach_the_operator_alone) {
    RunningService service;
    const Reply front = Get(service, "/api/empresas/demo");
    EXPECT_EQ(front.body, "{\"nombre\":\"demo\",\"atendida\":false}");
    EXPECT_EQ(front.allowOrigin, "*") << "the chat button reads it from other sites";
    const Reply left = Post(service, "/api/conversaciones",
                            "empresa=demo&nombre=Ana&contacto=ana%40correo.example&pagina="
                            "https%3A%2F%2Ftienda.example%2Fa%09b&procedencia=&idioma=es-ES");
    ASSERT_EQ(left.status, 201);
    const std::string id = left.body.substr(6, left.body.find(',') - 6);
    const std::string token = left.body.substr(left.body.find("\"token\":\"") + 9, 32);
    Post(service, "/api/conversaciones/" + id + "/mensajes", "token=" + token + "&texto=hola");
    const std::string session = service.Login();
    EXPECT_EQ(Get(service, "/api/empresas/demo").body, "{\"nombre\":\"demo\",\"atendida\":true}");
    const std::string chat =
        "/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + session + "&idsesionclt=" + id;
    const std::string context =
        "Tertulia: Desde: https://tienda.example/ab · Idioma: es-ES · Contacto: "
        "ana@correo.example\r\nAna: hola";
    EXPECT_EQ(RenderizarTranscripcion(service.Body(chat)), Windows1252FromUtf8(context));
    const std::string read = "/api/conversaciones/" + id + "?token=" + token;
    const std::string lines = "\"mensajes\":[{\"autor\":\"visitante\",\"texto\":\"hola\"}]}";
    EXPECT_EQ(Get(service, read).body, "{\"abierta\":true," + lines);

    const std::string rate = "/api/conversaciones/" + id + "/valoracion";
    EXPECT_EQ(Post(service, rate, "token=" + token + "&ayudado=si").status, 409) << "still open";
    const std::string end = "/api/conversaciones/" + id + "/terminar";
    EXPECT_EQ(Post(service, end, "token=" + token).body, "{\"ok\":true}");
    EXPECT_EQ(Post(service, end, "token=" + token).status, 409);
    EXPECT_EQ(
        RenderizarTranscripcion(service.Body(chat)),
        Windows1252FromUtf8(context + "\r\nTertulia: El visitante ha terminado la conversación."
                                      "\r\nTertulia: La conversación ha terminado. Ciérrela con "
                                      "«Cerrar y Borrar Historial»."));
    EXPECT_EQ(Get(service, read).body, "{\"abierta\":false," + lines);
    EXPECT_EQ(Post(service, rate, "token=" + token + "&ayudado=si&comentario=Gracias").body,
              "{\"ok\":true}");
    EXPECT_EQ(Post(service, rate, "token=" + token + "&ayudado=no").status, 409) << "once";

    // A page silent for long enough has gone: said once, never to the visitor.
    const auto [eva, evaToken] = OpenConversation(service.port(), "Eva");
    const std::string evaChat =
        "/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + session + "&idsesionclt=" + eva;
    EXPECT_EQ(service.Body(evaChat), "");
    service.now += 61;
    EXPECT_EQ(service.Body(evaChat), "") << "a minute is not enough to tell";
    EXPECT_EQ(Get(service, "/api/empresas/demo").body, "{\"nombre\":\"demo\",\"atendida\":true}")
        << "the console asked just now";
    service.now += 61;
    EXPECT_EQ(Get(service, "/api/empresas/demo").body, "{\"nombre\":\"demo\",\"atendida\":false}");
    const std::string gone = Windows1252FromUtf8("Tertulia: El visitante ha cerrado la página.");
    EXPECT_EQ(RenderizarTranscripcion(service.Body(evaChat)), gone);
    EXPECT_EQ(RenderizarTranscripcion(service.Body(evaChat)), gone);
    EXPECT_EQ(Get(service, "/api/conversaciones/" + eva + "?token=" + evaToken).body,
              "{\"abierta\":true,\"mensajes\":[]}");
}

// A page still there is marked as heard from well before it would be told gone.
TEST(VisitorApi, a_page_is_told_gone_after_its_silence_and_one_mark_more) {
    struct Row {
        const char* name;
        unsigned silenceSeconds;
        unsigned pageGoneSeconds;
        std::int64_t touchInterval;
        std::int64_t goneAfter;
    };
    const std::vector<Row> rows = {
        {"the defaults", 600, 60, 30, 90},
        {"a silence that never closes", 0, 60, 30, 90},
        {"a short silence marks more often", 40, 60, 10, 70},
        {"a short page-gone marks more often", 600, 6, 3, 9},
        {"at most every second", 600, 1, 1, 2},
    };
    ForEachRow(rows, [](const Row& row) {
        VisitorLimits limits;
        limits.silenceSeconds = row.silenceSeconds;
        limits.pageGoneSeconds = row.pageGoneSeconds;
        EXPECT_EQ(VisitorTouchInterval(limits), row.touchInterval);
        EXPECT_EQ(PageGoneAfter(limits), row.goneAfter);
    });
}

TEST(VisitorApi, the_page_is_one_self_contained_spanish_document) {
    RunningService service;
    const auto reply = service.Client()->Get("/");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(reply->get_header_value("Content-Security-Policy").find("default-src 'none'"),
              std::string::npos);
    EXPECT_NE(reply->body.find("<html lang=\"es\">"), std::string::npos);
    for (const char* outside : {"src=", "href=", "http://", "https://", "@import"}) {
        EXPECT_EQ(reply->body.find(outside), std::string::npos) << outside;
    }
}

}  // namespace
}  // namespace tertulia::testing
