// The addresses the service writes for clients behind a proxy, and the sites a company lets
// show its chat: real services over loopback, configured through their command line.
#include <gtest/gtest.h>

#include <fstream>

#include "base/md5.h"
#include "running_service.h"
#include "tests/support/service_process.h"
#include "tests/support/table_rows.h"

namespace tertulia::testing {
namespace {

const std::string kDownload = "/gl/descargas/tertulia-1.2";
const std::string kCheck = "/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1";

std::string Fetch(const ServiceProcess& service, const std::string& target,
                  const httplib::Headers& headers) {
    const auto reply = LoopbackClient(service.Port())->Get(target.c_str(), headers);
    return reply ? reply->body : "(no reply)";
}

TEST(ForwardedOrigin, OnlyTrustedProxiesNameTheSchemeAndHost) {
    TemporaryDirectory directory;
    const std::string update = directory.path() + "/tertulia-1.2";
    std::ofstream(update) << "the new console";
    const std::string digest = Md5TextOfString("the new console");
    const std::vector<std::string> offer = {"--update-file", update, "--update-version", "1.2"};
    std::vector<std::string> trustedOptions = offer;
    trustedOptions.insert(trustedOptions.end(), {"--trusted-proxy", "127.0.0.1"});
    const ServiceProcess trusted({.arguments = trustedOptions});
    const ServiceProcess untrusted({.arguments = offer});

    struct Row {
        const char* name;
        httplib::Headers headers;
        std::string fromTrusted;  // "HOST" stands for the Host the client sent
        std::string fromOthers;
    };
    const Row rows[] = {
        {"without forwarded headers the Host and http are used, as always",
         {{"Host", "chat.example:8080"}},
         "http://chat.example:8080",
         "http://chat.example:8080"},
        {"a proxy's scheme and host replace the connection's",
         {{"X-Forwarded-Proto", "https"}, {"X-Forwarded-Host", "chat.example"}},
         "https://chat.example",
         "http://HOST"},
        {"the scheme alone keeps the Host",
         {{"X-Forwarded-Proto", "HTTPS"}},
         "https://HOST",
         "http://HOST"},
        {"of several values the nearest proxy's is taken",
         {{"X-Forwarded-Proto", "http, https"},
          {"X-Forwarded-Host", "victim.example, chat.example:8443"}},
         "https://chat.example:8443",
         "http://HOST"},
        {"an unknown scheme is ignored",
         {{"X-Forwarded-Proto", "javascript"}, {"X-Forwarded-Host", "chat.example"}},
         "http://chat.example",
         "http://HOST"},
        {"a forwarded host that is no host is ignored",
         {{"X-Forwarded-Proto", "https"}, {"X-Forwarded-Host", "chat.example/\"><x"}},
         "https://HOST",
         "http://HOST"},
        {"a bracketed IPv6 host with a port is kept",
         {{"X-Forwarded-Proto", "https"}, {"X-Forwarded-Host", "[::1]:8443"}},
         "https://[::1]:8443",
         "http://HOST"},
    };
    ForEachRow(rows, [&](const Row& row) {
        for (const auto* service : {&trusted, &untrusted}) {
            std::string origin = service == &trusted ? row.fromTrusted : row.fromOthers;
            const std::string host = "127.0.0.1:" + std::to_string(service->Port());
            if (const auto at = origin.find("HOST"); at != std::string::npos) {
                origin.replace(at, 4, host);
            }
            EXPECT_EQ(Fetch(*service, kCheck, row.headers),
                      "DESACTUALIZADA." + digest + "," + origin + kDownload);
            EXPECT_NE(Fetch(*service, "/widget.js", row.headers)
                          .find("var servicio = \"" + origin + "\";"),
                      std::string::npos)
                << "widget.js does not open " << origin;
        }
    });
}

TEST(AllowedSites, NameTheFramingPagesOfTheirCompanyOnly) {
    TemporaryDirectory directory;
    const std::string database = directory.path() + "/service.db";
    ASSERT_EQ(RunService({"add-company", "acme", "contrasena-larga", "--db", database}), 0);
    ASSERT_EQ(RunService({"add-company", "otra", "contrasena-larga", "--db", database}), 0);

    struct Refused {
        const char* name;
        std::vector<std::string> arguments;
        int status;
    };
    const Refused refusals[] = {
        {"an origin with a path", {"allow-site", "acme", "https://tienda.example/chat"}, 2},
        {"a wildcard", {"allow-site", "acme", "*"}, 2},
        {"another scheme", {"allow-site", "acme", "javascript:alert(1)"}, 2},
        {"a port out of range", {"allow-site", "acme", "https://tienda.example:70000"}, 2},
        {"a space that would add a source", {"allow-site", "acme", "https://a.example *"}, 2},
        {"an unknown company", {"allow-site", "nadie", "https://tienda.example"}, 1},
    };
    ForEachRow(refusals, [&](const Refused& refusal) {
        std::vector<std::string> arguments = refusal.arguments;
        arguments.insert(arguments.end(), {"--db", database});
        EXPECT_EQ(RunService(arguments), refusal.status);
    });
    for (const char* site :
         {"HTTPS://Tienda.Example/", "http://127.0.0.2:8000", "https://otra-tienda.example"}) {
        ASSERT_EQ(RunService({"allow-site", "acme", site, "--db", database}), 0) << site;
    }
    ASSERT_EQ(
        RunService({"disallow-site", "acme", "https://otra-tienda.example", "--db", database}), 0);

    const ServiceProcess service({.database = database, .demo = false});
    const auto policy = [&](const std::string& target) {
        const auto reply = LoopbackClient(service.Port())->Get(target.c_str());
        return reply ? reply->get_header_value("Content-Security-Policy") : "(no reply)";
    };
    const std::string rest = "; base-uri 'none'";
    EXPECT_TRUE(policy("/?empresa=acme")
                    .ends_with("frame-ancestors 'self' http://127.0.0.2:8000 "
                               "https://tienda.example" +
                               rest));
    EXPECT_TRUE(policy("/?empresa=otra").ends_with("frame-ancestors 'self'" + rest));
    EXPECT_TRUE(policy("/").ends_with("frame-ancestors 'self'" + rest));
    EXPECT_TRUE(policy("/?empresa=%zz").ends_with("frame-ancestors 'self'" + rest));

    // Removing the company takes its sites with it; a new company of that code has none.
    ASSERT_EQ(RunService({"remove-company", "acme", "--db", database}), 0);
    ASSERT_EQ(RunService({"add-company", "acme", "contrasena-larga", "--db", database}), 0);
    EXPECT_TRUE(policy("/?empresa=acme").ends_with("frame-ancestors 'self'" + rest));
}

}  // namespace
}  // namespace tertulia::testing
