#pragma once

#include <semaphore>
#include <string>
#include <string_view>

#include "service/companies.h"
#include "service/conversations.h"
#include "service/rate_limits.h"

namespace tertulia {

// A reply of the visitors' JSON API.
struct JsonReply {
    int status = 200;
    std::string body;
};

// What anonymous visitors may do. Defaults that no real visitor meets; 0 means no limit.
struct VisitorLimits {
    unsigned conversationsPerAddress = 20;  // opened per client address and hour
    unsigned conversationsPerNetwork = 60;  // opened per client network (NetworkKey) and hour
    unsigned linesPerAddress = 60;          // written per client address and minute
    ConversationCaps perConversation{500, 256 * 1024};
    unsigned waitingPerCompany = 200;  // open conversations of one company
    // A conversation whose visitor has neither asked nor written for this long is closed, so
    // that visitors who left do not hold the company's waiting places.
    unsigned silenceSeconds = 600;
    // An open conversation whose page has neither read nor held its stream for this long has
    // gone: its operator is told so, once.
    unsigned pageGoneSeconds = 60;
};

// A line as the visitor's page reads it: {"autor":"visitante"|"operador","texto":"..."}.
std::string MessageJson(const StoredMessage& message);

// Seconds between writes of a visitor's "heard from" time while its page reads or holds its
// stream: well within the silence that closes a conversation and the one that tells its page
// gone, and rare enough for reads to stay reads.
std::int64_t VisitorTouchInterval(const VisitorLimits& limits);
// How old a visitor's "heard from" time is once its page has gone: the page's silence, plus the
// time between writes during which a page still there is not marked.
std::int64_t PageGoneAfter(const VisitorLimits& limits);

// The JSON API of the visitor page. Bodies are form fields in UTF-8; each conversation is
// reached only with the token it was opened with, and a wrong token looks exactly like a
// conversation that does not exist. Refusals are 4xx or 503 replies {"error":"..."} in Spanish,
// and a refused request stores nothing. `client` is the visitor's address (see LimitKey).
class VisitorApi {
  public:
    static constexpr std::size_t kMaxName = 60;
    static constexpr std::size_t kMaxLine = 2000;
    static constexpr std::size_t kMaxContact = 100;
    static constexpr std::size_t kMaxContext = 500;  // of each of pagina, procedencia, idioma
    static constexpr std::size_t kMaxComment = 500;

    VisitorApi(Conversations& conversations, const VisitorLimits& limits, Clock clock)
        : conversations_(conversations),
          limits_(limits),
          clock_(std::move(clock)),
          opened_(limits.conversationsPerAddress, 3600),
          openedPerNetwork_(limits.conversationsPerNetwork, 3600),
          written_(limits.linesPerAddress, 60),
          typing_(limits.linesPerAddress, 60) {}

    // POST /api/conversaciones: fields empresa, nombre and the optional contacto, pagina,
    // procedencia, idioma -> {"id":N,"token":"..."}.
    JsonReply Open(std::string_view form, const std::string& client);
    // POST /api/conversaciones/N/mensajes: fields token, texto -> {"ok":true}.
    JsonReply Send(std::string_view idText, std::string_view form, const std::string& client);
    // GET /api/conversaciones/N?token=... -> {"abierta":..,"mensajes":[{"autor":..,"texto":..}]}.
    JsonReply Read(std::string_view idText, std::string_view query);
    // POST /api/conversaciones/N/escribiendo: field token -> {"ok":true}; told to the operator
    // streams of the conversation's console.
    JsonReply Typing(std::string_view idText, std::string_view form, const std::string& client);
    // POST /api/conversaciones/N/terminar: field token -> {"ok":true}.
    JsonReply End(std::string_view idText, std::string_view form);
    // POST /api/conversaciones/N/valoracion: fields token, ayudado=si|no, comentario ->
    // {"ok":true}, once the conversation is closed.
    JsonReply Rate(std::string_view idText, std::string_view form);
    // GET /api/empresas/CODE -> {"nombre":"...","atendida":true|false}.
    JsonReply Company(const std::string& code, Companies& companies);

    // What an operator is told when the visitor ends the conversation, or when the visitor's
    // page has gone.
    static constexpr const char* kVisitorEnded = "El visitante ha terminado la conversación.";
    static constexpr const char* kPageGone = "El visitante ha cerrado la página.";
    // A company is attended while one of its operator sessions was heard from this recently.
    static constexpr std::int64_t kPresentSeconds = 60;

    // The reply to a conversation that does not exist, or not for the token given.
    static JsonReply NoConversation();

  private:
    Conversations& conversations_;
    VisitorLimits limits_;
    Clock clock_;
    std::counting_semaphore<> transcriptTurns_{4};
    TokenBuckets opened_;
    TokenBuckets openedPerNetwork_;
    TokenBuckets written_;
    // A page says that its visitor types at most every 2 s: as many as lines, on their own.
    TokenBuckets typing_;
};

}  // namespace tertulia
