#include "tests/support/postgres_server.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <string>

namespace tertulia::test {
namespace {

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;

Connection Connect(const std::string& uri) {
    return Connection(PQconnectdb(uri.c_str()), &PQfinish);
}

// The single value of a query's single row, or nothing when the query failed.
std::optional<std::string> Value(PGconn* connection, const char* query) {
    const std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(connection, query), &PQclear);
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1) {
        return std::nullopt;
    }
    return PQgetvalue(result.get(), 0, 0);
}

TEST(PostgresServerTest, AnswersOnItsOwnSocketAndIsGoneWithTheObject) {
    std::string uri;
    {
        PostgresServer server;
        if (!server.Running()) GTEST_SKIP() << server.Error();
        uri = server.Uri();
        const Connection connection = Connect(uri);
        ASSERT_EQ(PQstatus(connection.get()), CONNECTION_OK) << PQerrorMessage(connection.get());
        EXPECT_EQ(Value(connection.get(), "select 1"), "1");
        EXPECT_EQ(Value(connection.get(), "show listen_addresses"), "")
            << "no TCP port that another test could meet";

        const std::string created = server.CreateDatabase("tertulia_check");
        const Connection second = Connect(created);
        ASSERT_EQ(PQstatus(second.get()), CONNECTION_OK) << PQerrorMessage(second.get());
        EXPECT_EQ(Value(second.get(), "select current_database()"), "tertulia_check");
        EXPECT_THROW(server.CreateDatabase("tertulia_check"), std::runtime_error);
    }
    const Connection after = Connect(uri);
    EXPECT_NE(PQstatus(after.get()), CONNECTION_OK) << "the server still answers";
}

}  // namespace
}  // namespace tertulia::test
