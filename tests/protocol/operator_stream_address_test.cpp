#include "protocol/operator_stream_address.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/table_rows.h"

namespace tertulia {
namespace {

using testing::ForEachRow;

// A target's path and its query's fields, split as the service splits them (nothing here is
// percent-encoded).
struct Target {
    std::string path;
    std::map<std::string, std::string> fields;

    explicit Target(std::string_view target) {
        const std::size_t question = target.find('?');
        path = target.substr(0, question);
        std::string_view query =
            question == std::string_view::npos ? "" : target.substr(question + 1);
        while (!query.empty()) {
            const std::string_view pair = query.substr(0, query.find('&'));
            const std::size_t eq = pair.find('=');
            fields[std::string(pair.substr(0, eq))] =
                eq == std::string_view::npos ? "" : std::string(pair.substr(eq + 1));
            query.remove_prefix(std::min(query.size(), pair.size() + 1));
        }
    }

    std::optional<OperatorStreamRequest> Read() const {
        return ReadOperatorStreamRequest(path, [this](const std::string& name) {
            const auto it = fields.find(name);
            return it == fields.end() ? std::nullopt : std::optional<std::string>(it->second);
        });
    }
};

TEST(OperatorStreamAddress, is_the_address_consoles_send) {
    EXPECT_EQ(OperatorStreamUrl("http://127.0.0.1:8080", "acme", "s1"),
              "http://127.0.0.1:8080/tertulia.php?accion=eventos&idempresa=acme&idsesion=s1");
}

TEST(OperatorStreamAddress, reads_back_what_it_wrote) {
    struct Row {
        const char* name;
        std::string company;
        std::string sessionId;
    };
    const std::vector<Row> rows = {
        {"plain", "acme", "0123456789abcdef0123456789abcdef"},
        {"Windows-1252 company", "caf\xE9", "s1"},
        {"empty session", "acme", ""},
    };
    ForEachRow(rows, [](const Row& row) {
        const std::string url = OperatorStreamUrl("", row.company, row.sessionId);
        EXPECT_EQ(Target(url).Read(), (OperatorStreamRequest{row.company, row.sessionId}));
    });
}

TEST(OperatorStreamAddress, other_requests_to_the_script_are_no_stream) {
    struct Row {
        const char* name;
        const char* target;
    };
    const std::vector<Row> rows = {
        {"news", "/tertulia.php?accion=get_news&idempresa=acme&idsesion=s1"},
        {"no action", "/tertulia.php?idempresa=acme&idsesion=s1"},
        {"action of another case", "/tertulia.php?accion=Eventos&idempresa=acme&idsesion=s1"},
        {"no company", "/tertulia.php?accion=eventos&idsesion=s1"},
        {"no session", "/tertulia.php?accion=eventos&idempresa=acme"},
        {"another path", "/tertulia.php/?accion=eventos&idempresa=acme&idsesion=s1"},
        {"visitor stream", "/api/conversaciones/1/eventos?accion=eventos&idempresa=a&idsesion=s"},
    };
    ForEachRow(rows, [](const Row& row) { EXPECT_EQ(Target(row.target).Read(), std::nullopt); });
}

}  // namespace
}  // namespace tertulia
