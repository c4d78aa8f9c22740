#include "session/failure_words.h"

#include <gtest/gtest.h>

#include "http/http_client.h"
#include "http/http_errors.h"
#include "tests/support/table_rows.h"

namespace tertulia {
namespace {

TEST(FailureWordsTest, a_failure_is_named_in_words_not_by_its_number) {
    struct Row {
        const char* name;
        std::function<void()> fail;
        std::string words;
    };
    const Row rows[] = {
        {"refused", [] { throw SocketError(10061); }, "conexi\xF3n rechazada"},
        {"timed out", [] { throw SocketError(kSocketTimedOut); }, "el servicio no responde"},
        {"name not found", [] { throw SocketError(kSocketHostNotFound); },
         "no se encuentra el servidor"},
        {"reset", [] { throw SocketError(10054); }, "la conexi\xF3n se ha cortado"},
        {"no text of its own", [] { throw SocketError(10048); }, "error de red 10048"},
        {"an HTTP status", [] { throw HttpProtocolError("HTTP/1.1 502 Bad Gateway", 502, ""); },
         "el servicio responde \xABHTTP/1.1 502 Bad Gateway\xBB"},
        {"closed without a reply", [] { throw std::runtime_error(kConnectionClosedGracefully); },
         "el servicio ha cerrado la conexi\xF3n"},
        {"already in words", [] { throw std::runtime_error("El certificado no vale"); },
         "El certificado no vale"},
        // Port 9 (discard) on loopback has no listener here.
        {"a real refused connection",
         [] {
             HttpClient http;
             http.GetText("http://127.0.0.1:9/");
         },
         "conexi\xF3n rechazada"},
    };
    testing::ForEachRow(rows, [](const Row& row) {
        try {
            row.fail();
            FAIL() << "did not fail";
        } catch (const std::exception& failure) {
            EXPECT_EQ(FailureInWords(failure), row.words);
        }
    });
}

}  // namespace
}  // namespace tertulia
