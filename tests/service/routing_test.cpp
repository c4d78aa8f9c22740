// The service's route table and its access log, on their own.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "service/access_log.h"
#include "service/bad_request.h"
#include "service/route_table.h"
#include "tests/support/table_rows.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/whole_file.h"

namespace tertulia::testing {
namespace {

HttpRequest Request(std::string method, std::string target) {
    HttpRequest request;
    request.method = std::move(method);
    request.target = std::move(target);
    request.path = request.target.substr(0, request.target.find('?'));
    return request;
}

// A handler that answers with its name and what the route's "*" matched.
RouteHandler Named(std::string name) {
    return [name](const RoutedRequest& request) -> std::optional<HttpReply> {
        HttpReply reply;
        reply.body = name + (request.Id().empty() ? "" : " " + request.Id());
        return reply;
    };
}

// The service's route shapes: exact paths, ids, a route that declines, one answered at once.
RouteTable Table() {
    using Method = Route::Method;
    RouteTable table;
    table.Add({.method = Method::Get, .path = "/", .atOnce = Named("page")});
    table.Add({.method = Method::Get,
               .path = "/script",
               .answer = [](const RoutedRequest& request) -> std::optional<HttpReply> {
                   if (request.Fields().Find("accion") != "eventos") return std::nullopt;
                   return Named("stream")(request);
               }});
    table.Add({.method = Method::Get, .path = "/script", .answer = Named("script")});
    table.Add({.method = Method::Post,
               .path = "/items/*/lines",
               .answer = Named("send"),
               .bodyLimit = 100});
    table.Add({.method = Method::Get, .path = "/items/*", .answer = Named("item")});
    table.Add({.method = Method::Get,
               .path = "/files/app-1.2",
               .atOnce = Named("file"),
               .counted = "/files"});
    return table;
}

TEST(RouteTable, takes_each_request_to_its_route) {
    struct Row {
        const char* name;
        const char* method;
        const char* target;
        const char* answer;  // empty: no route answers
        const char* counted;
        std::size_t bodyLimit;
    };
    const std::vector<Row> rows = {
        {"root", "GET", "/?x=1", "page", "/", 0},
        {"head as get", "HEAD", "/", "page", "/", 0},
        {"post to a get route", "POST", "/", "", "/", 0},
        {"declined to the next route", "GET", "/script?accion=news", "script", "/script", 0},
        {"taken by the first route", "GET", "/script?accion=eventos", "stream", "/script", 0},
        {"id", "GET", "/items/42", "item 42", "/items/N", 0},
        {"id and a segment", "POST", "/items/42/lines", "send 42", "/items/N/lines", 100},
        {"no empty id", "GET", "/items/", "", "otra", 0},
        {"no id with a slash", "GET", "/items/4/2", "", "otra", 0},
        {"no trailing slash", "POST", "/items/42/lines/", "", "otra", 0},
        {"a name of its own", "GET", "/files/app-1.2", "file", "/files", 0},
        {"unknown", "GET", "/nothing", "", "otra", 0},
        {"a prefix of a route", "GET", "/scrip", "", "otra", 0},
    };
    const RouteTable table = Table();
    ForEachRow(rows, [&](const Row& row) {
        const HttpRequest request = Request(row.method, row.target);
        const std::optional<HttpReply> reply = table.Answer(request, "192.0.2.1");
        EXPECT_EQ(reply ? reply->body : "", row.answer);
        EXPECT_EQ(table.Counted(request.path), row.counted);
        EXPECT_EQ(table.BodyLimit(row.method, request.path), row.bodyLimit);
    });
}

TEST(RouteTable, answers_on_arrival_only_what_needs_no_worker) {
    const RouteTable table = Table();
    EXPECT_EQ(table.AnswerAtOnce(Request("GET", "/"))->body, "page");
    EXPECT_EQ(table.AnswerAtOnce(Request("GET", "/files/app-1.2"))->body, "file");
    EXPECT_FALSE(table.AnswerAtOnce(Request("GET", "/script?accion=eventos")));
}

TEST(RouteTable, a_request_parses_its_query_once_for_every_route) {
    const HttpRequest request = Request("GET", "/script?accion=eventos&b=%41");
    RoutedRequest routed(request, "");
    const FormFields& fields = routed.Fields();
    EXPECT_EQ(&routed.Fields(), &fields);
    EXPECT_EQ(fields.Find("b"), "A");

    const HttpRequest malformed = Request("GET", "/script?a=%G");
    RoutedRequest refused(malformed, "");
    EXPECT_THROW(refused.Fields(), BadRequest);
    EXPECT_THROW(refused.Fields(), BadRequest) << "on every call";
}

TEST(AccessLog, leaves_secrets_out_of_the_target_and_escapes_what_disturbs_a_reader) {
    struct Row {
        const char* name;
        std::string target;
        std::string logged;
    };
    const std::vector<Row> rows = {
        {"plain", "/salud", "/salud"},
        {"login", "/tertulia.php?accion=do_login&idempresa=demo&contrasena=ABC",
         "/tertulia.php?accion=do_login&idempresa=demo&contrasena=-"},
        {"line and session", "/tertulia.php?idsesion=s1&mensaje=hola&idsesionclt=3",
         "/tertulia.php?idsesion=-&mensaje=-&idsesionclt=3"},
        {"token", "/api/conversaciones/3/eventos?token=t", "/api/conversaciones/3/eventos?token=-"},
        {"a name that only starts like one", "/x?tokens=t&token", "/x?tokens=t&token=-"},
        {"empty field", "/x?&a", "/x?&a"},
        {"bytes a terminal reads", "/a b\"c\\\x1B\xE9", "/a%20b%22c%5C%1B%E9"},
    };
    ForEachRow(rows, [](const Row& row) { EXPECT_EQ(LoggedTarget(row.target), row.logged); });
}

AccessRecord Record(std::string target) {
    return {.peer = "192.0.2.7",
            .forwardedFor = "",
            .method = "GET",
            .target = std::move(target),
            .status = 200};
}

TEST(AccessLog, reopens_its_name_after_a_rename_and_keeps_the_old_file_when_it_cannot) {
    TemporaryDirectory directory;
    const std::string folder = directory.path() + "/logs";
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/access.log";
    AccessLog log(path, {});
    log.Write(Record("/antes"));
    std::filesystem::rename(path, path + ".1");
    log.Write(Record("/renombrado"));
    log.Reopen();
    log.Write(Record("/despues"));
    EXPECT_EQ(Occurrences(ReadWholeFile(path + ".1"), "192.0.2.7 - - ["), 2u);
    EXPECT_NE(ReadWholeFile(path + ".1").find("\"GET /renombrado\" 200 0 "), std::string::npos);
    const std::string after = ReadWholeFile(path);
    EXPECT_EQ(after.find("/antes"), std::string::npos) << after;
    EXPECT_NE(after.find("\"GET /despues\" 200 0 "), std::string::npos) << after;

    // A name that cannot be opened again leaves the log where it was.
    std::filesystem::rename(folder, folder + ".movida");
    log.Reopen();
    log.Write(Record("/sin-carpeta"));
    EXPECT_NE(ReadWholeFile(folder + ".movida/access.log").find("/sin-carpeta"), std::string::npos);
    EXPECT_THROW(AccessLog(folder + "/access.log", {}), std::runtime_error);
}

}  // namespace
}  // namespace tertulia::testing
