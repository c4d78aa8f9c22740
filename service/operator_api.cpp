#include "service/operator_api.h"

#include <cstdint>
#include <exception>
#include <optional>

#include "protocol/ready_answers.h"
#include "protocol/service_protocol.h"
#include "protocol/service_replies.h"
#include "protocol/transcript_markup.h"
#include "service/bad_request.h"
#include "service/charset.h"
#include "service/client_address.h"
#include "service/form_fields.h"
#include "service/secrets.h"
#include "service/service_log.h"
#include "service/visitor_api.h"

namespace tertulia {

namespace {

// Refusal for a session that is unknown, expired or not the company's: the console goes back
// to its login panel on the full stop.
class SessionGone : public std::exception {};

std::int32_t ConversationId(const std::string& text) {
    const std::optional<std::int32_t> id = ServiceConversationId(text);
    if (!id) {
        throw BadRequest("El identificador de conversación «" + Utf8FromWindows1252(text) +
                         "» no es válido.");
    }
    return *id;
}

// The operator's line from the percent-decoded Windows-1252 bytes, as UTF-8.
std::string OperatorLine(const std::string& bytes) {
    if (bytes.size() > OperatorApi::kMaxLine) {
        throw BadRequest("La línea es demasiado larga (más de 2000 caracteres).");
    }
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            throw BadRequest("La línea contiene caracteres de control.");
        }
    }
    return Utf8LineFromWindows1252(bytes);
}

// A line of the transcript, from the stored UTF-8.
TranscriptLine LineOf(const std::string& author, const std::string& text) {
    return {Windows1252FromUtf8(author), Windows1252FromUtf8(text)};
}

// "Desde: ... · Llegó de: ... · Idioma: ... · Contacto: ...", with the parts the visitor's page
// gave; empty when it gave none.
std::string ContextLine(const VisitorContext& context) {
    std::string line;
    const auto add = [&line](const char* label, const std::string& value) {
        if (value.empty()) return;
        if (!line.empty()) line += " · ";
        line += label;
        line += value;
    };
    add("Desde: ", context.page);
    add("Llegó de: ", context.referrer);
    add("Idioma: ", context.language);
    add("Contacto: ", context.contact);
    return line;
}

std::string Transcript(Conversations& conversations, const ConversationInfo& conversation) {
    std::vector<TranscriptLine> lines;
    const std::string context = ContextLine(conversations.Context(conversation.id));
    if (!context.empty()) lines.push_back(LineOf("Tertulia", context));
    for (const StoredMessage& message : conversations.Messages(conversation.id)) {
        const std::string author = message.fromService    ? std::string("Tertulia")
                                   : message.fromOperator ? OperatorApi::kOperatorName
                                                          : conversation.visitorName;
        lines.push_back(LineOf(author, message.text));
    }
    // A conversation closed by anyone but this console (its visitor's silence, another console)
    // ends with a line that tells the operator how to let its window go, instead of an error at
    // every poll.
    if (!conversation.open) {
        lines.push_back(LineOf(
            "Tertulia", "La conversación ha terminado. Ciérrela con «Cerrar y Borrar Historial»."));
    }
    return TranscriptMarkup(lines);
}

// What a console that asks for a conversation another console answers gets instead of its
// transcript, so that its operator lets the window go.
std::string OtherConsole() {
    return TranscriptMarkup({LineOf("Tertulia",
                                    "Esta conversación la atiende otra consola. Ciérrela con "
                                    "«Cerrar y Borrar Historial».")});
}

std::string LowerHex(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string Missing(std::int32_t id) {
    return Windows1252FromUtf8("ERROR: La conversación " + std::to_string(id) + " no existe.");
}

std::string OwnedElsewhere(std::int32_t id) {
    return Windows1252FromUtf8("ERROR: La conversación " + std::to_string(id) +
                               " la atiende otra consola.");
}

std::string ClosedAlready(std::int32_t id) {
    return Windows1252FromUtf8("ERROR: La conversación " + std::to_string(id) + " está cerrada.");
}

std::string Full(std::int32_t id) {
    return Windows1252FromUtf8("ERROR: La conversación " + std::to_string(id) +
                               " ha llegado al máximo de líneas o de texto que admite; "
                               "ciérrela para terminarla.");
}

}  // namespace

class OperatorRequest {
  public:
    OperatorRequest(OperatorApi& api, const FormFields& fields, const std::string& client,
                    ConsoleCookie& cookie, OperatorApi::LineOutcome& line)
        : api_(api),
          storage_(api.storage_),
          fields_(fields),
          client_(client),
          cookie_(cookie),
          line_(line) {}

    // Each reply is Windows-1252 text.
    std::string Login() {
        const std::string code = Code();
        const std::string address = LimitKey(client_);
        // Counted before the check, in the database, so that no number of simultaneous
        // attempts on any of the services sharing it gets more checks than the waits allow.
        const LoginAttempt attempt = storage_.loginAttempts.AttemptLogin(code, address);
        if (attempt.wait > 0) {
            ++api_.refusedWaiting_;
            api_.refusals_.Count(address);
            return Windows1252FromUtf8(
                "ERROR: Demasiados intentos fallidos; espere " + std::to_string(attempt.wait) +
                (attempt.wait == 1 ? " segundo" : " segundos") + " antes de volver a intentarlo.");
        }
        if (!attempt.companyExists) {
            ++api_.refusedCredentials_;
            LogLine(LogPriority::Warning, "inicio de sesión fallido de la empresa desconocida «" +
                                              code + "» desde " + client_ + " (" +
                                              std::to_string(attempt.addressFailures) +
                                              " de la dirección)");
            return Windows1252FromUtf8("ERROR: Código de empresa o contraseña incorrectos.");
        }
        std::optional<std::string> session;
        const bool known =
            cookie_.received.size() == 32 &&
            cookie_.received.find_first_not_of("0123456789abcdef") == std::string::npos;
        if (!known) cookie_.toSet = RandomHex(16);
        // A key names the console program across its runs, a cookie within one; kept apart,
        // so that neither can stand for the other.
        const std::optional<std::string> key = fields_.Find("consola");
        const std::string console = key && IsConsoleKey(*key) ? "consola " + LowerHex(*key)
                                    : known                   ? cookie_.received
                                                              : cookie_.toSet;
        if (!api_.checks_.Run([&] {
                session = storage_.sessions.Login(code, fields_.Get("contrasena"), console);
            })) {
            storage_.loginAttempts.UncountLoginFailure(attempt.counted);
            ++api_.refusedBusy_;
            api_.refusals_.Count(address);
            return Windows1252FromUtf8(
                "ERROR: El servicio está ocupado comprobando contraseñas; inténtelo de nuevo.");
        }
        if (!session) {
            ++api_.refusedCredentials_;
            LogLine(LogPriority::Warning,
                    "inicio de sesión fallido de la empresa «" + code + "» desde " + client_ +
                        " (" + std::to_string(attempt.companyFailures) +
                        " seguidos de la empresa, " + std::to_string(attempt.addressFailures) +
                        " de la dirección)");
            return Windows1252FromUtf8("ERROR: Código de empresa o contraseña incorrectos.");
        }
        storage_.loginAttempts.ForgetLoginFailures(attempt.keys);
        storage_.loginAttempts.RememberAddress(code, address);
        return WriteLoginReply(*session);
    }

    std::string News() {
        const OperatorSession session = Session();
        std::vector<NewsEntry> entries;
        std::vector<VisitorLines> lines;
        for (const ConversationInfo& conversation :
             storage_.conversations.OpenConversations(session.company)) {
            if (!session.Sees(conversation.owner)) continue;
            // A console opens a window for every conversation of its news before it asks for
            // any: the news that first lists a free conversation gives it to its console, so
            // that one console alone opens it.
            if (session.oneConsole && conversation.owner.empty() &&
                storage_.sessions.Claim(session, conversation.id) == ClaimResult::Other) {
                continue;
            }
            entries.push_back({conversation.id, Windows1252FromUtf8(conversation.visitorName)});
            lines.push_back({conversation.id, conversation.visitorLines});
        }
        // So that the console tells a closed conversation from one that another console took.
        std::vector<std::int32_t> closed;
        for (const ConversationInfo& conversation : storage_.conversations.RecentlyClosed(
                 session.company, OperatorApi::kClosedNewsSeconds)) {
            if (session.Sees(conversation.owner)) closed.push_back(conversation.id);
        }
        return WriteNewsReply(entries, lines, closed);
    }

    std::string Chat() {
        const OperatorSession session = Session();
        const std::int64_t company = session.company;
        const std::int32_t id = ConversationId(fields_.Get("idsesionclt"));
        if (session.oneConsole && storage_.sessions.Claim(session, id) == ClaimResult::Other) {
            return OtherConsole();
        }
        const auto mensaje = fields_.Find("mensaje");
        // A line whose every character the console's encoding dropped arrives empty, and one of
        // undefined bytes only is left empty.
        const std::string line = mensaje ? OperatorLine(*mensaje) : std::string();
        if (!line.empty()) {
            switch (storage_.conversations.AddOperatorLine(session, id, line, api_.caps_)) {
                case LineResult::NotFound:
                    return Missing(id);
                case LineResult::Closed:
                    break;  // nothing stored: the transcript below says that it ended
                case LineResult::Full:
                    return Full(id);
                case LineResult::Owned:
                    return OtherConsole();  // another console was given it since the claim
                case LineResult::Stored:
                    line_.stored = true;
                    break;
            }
        }
        // A page is heard from at most every 30 s: silent for 90 s, it has been gone for 60.
        storage_.conversations.NotePageGone(
            company, id, api_.clock_() - VisitorApi::kPresentSeconds - 30, VisitorApi::kPageGone);
        const auto conversation = storage_.conversations.CompanyConversation(company, id);
        if (!conversation) return Missing(id);
        return Transcript(storage_.conversations, *conversation);
    }

    // Tells the conversation's visitor that its operator is typing; only its owner may.
    std::string Typing() {
        const OperatorSession session = Session();
        const std::int32_t id = ConversationId(fields_.Get("idsesionclt"));
        if (!api_.typing_.Take(LimitKey(client_), api_.clock_())) {
            return Windows1252FromUtf8("ERROR: Demasiados avisos seguidos; espere un momento.");
        }
        if (session.oneConsole && storage_.sessions.Claim(session, id) == ClaimResult::Other) {
            return OwnedElsewhere(id);
        }
        const auto conversation = storage_.conversations.CompanyConversation(session.company, id);
        if (!conversation) return Missing(id);
        if (!conversation->open) return ClosedAlready(id);
        storage_.conversations.AnnounceTyping(session.company, id, TypingSide::Operator, "");
        return "OK";
    }

    // The company's ready answers, sorted by shortcut.
    std::string ReadyAnswersList() {
        const OperatorSession session = Session();
        std::vector<ReadyAnswer> answers;
        for (const StoredAnswer& answer : storage_.readyAnswers.Of(session.company)) {
            answers.push_back(
                {Windows1252FromUtf8(answer.shortcut), Windows1252FromUtf8(answer.text)});
        }
        return WriteReadyAnswersReply(answers);
    }

    // Hands the conversation on to the company's other consoles; only its owner may, and only
    // while another console is there to take it.
    std::string HandOn() {
        const OperatorSession session = Session();
        const std::int32_t id = ConversationId(fields_.Get("idsesionclt"));
        if (session.oneConsole && storage_.sessions.Claim(session, id) == ClaimResult::Other) {
            return OwnedElsewhere(id);
        }
        switch (storage_.conversations.HandOn(session, id, "La conversación pasa a otra consola.",
                                              api_.clock_() - Sessions::kPresentSeconds)) {
            case HandOnResult::HandedOn:
                return "OK";
            case HandOnResult::Alone:
                return "ERROR: No hay otra consola conectada.";
            case HandOnResult::Owned:
                return OwnedElsewhere(id);
            case HandOnResult::Closed:
                return ClosedAlready(id);
            case HandOnResult::NotFound:
                break;
        }
        return Missing(id);
    }

    // How many other consoles of the company are there.
    std::string OtherConsoles() {
        return WriteOtherConsolesReply(storage_.sessions.OtherConsoles(Session()));
    }

    // Ends the session; its conversations go to the company's other consoles at once.
    std::string Logout() {
        if (!storage_.sessions.EndSession(Code(), fields_.Get("idsesion"))) throw SessionGone();
        return WriteLogoutReply();
    }

    std::string Drop() {
        const OperatorSession session = Session();
        const std::int32_t id = ConversationId(fields_.Get("idsesionclt"));
        switch (storage_.conversations.Close(session, id)) {
            case CloseResult::Closed:
                return WriteCloseReply();
            case CloseResult::Owned:
                return WriteCloseReply();  // its window goes; its owner keeps it
            case CloseResult::NotFound:
                return Missing(id);
            case CloseResult::AlreadyClosed:
                return WriteCloseReply();  // its window goes, whoever closed it
        }
        return Missing(id);
    }

  private:
    std::string Code() const { return Utf8FromWindows1252(fields_.Get("idempresa")); }

    OperatorSession Session() {
        auto session = storage_.sessions.Session(Code(), fields_.Get("idsesion"));
        if (!session) throw SessionGone();
        return std::move(*session);
    }

    OperatorApi& api_;
    Storage& storage_;
    const FormFields& fields_;
    const std::string& client_;
    ConsoleCookie& cookie_;
    OperatorApi::LineOutcome& line_;
};

std::string OperatorApi::SessionGoneReply() {
    return Windows1252FromUtf8("ERROR. La sesión no existe o ha caducado; conéctese de nuevo.");
}

OperatorApi::RefusedLogins OperatorApi::Refused() const {
    return {refusedCredentials_.load(), refusedWaiting_.load(), refusedBusy_.load()};
}

std::string OperatorApi::RefusalReply(std::string_view reason) {
    return Windows1252FromUtf8("ERROR: " + std::string(reason));
}

OperatorReply OperatorApi::Answer(const FormFields& fields, const std::string& client,
                                  ConsoleCookie& cookie) {
    LineOutcome line;
    std::string text = AnswerText(fields, client, cookie, line);
    return {std::move(text), line.carried && !line.stored};
}

std::string OperatorApi::AnswerText(const FormFields& fields, const std::string& client,
                                    ConsoleCookie& cookie, LineOutcome& line) {
    std::string accion;
    try {
        OperatorRequest request(*this, fields, client, cookie, line);
        accion = fields.Get("accion");
        // A line that the console's encoding emptied is no line: nothing to keep.
        const auto mensaje = fields.Find("mensaje");
        line.carried = accion == "getchat" && mensaje && !mensaje->empty();
        if (accion == "do_login") return request.Login();
        if (accion == "get_news") return request.News();
        if (accion == "getchat") return request.Chat();
        if (accion == "dropclt") return request.Drop();
        if (accion == "escribiendo") return request.Typing();
        if (accion == "respuestas") return request.ReadyAnswersList();
        if (accion == "ceder") return request.HandOn();
        if (accion == "consolas") return request.OtherConsoles();
        if (accion == "do_logout") return request.Logout();
        return Windows1252FromUtf8("ERROR: Acción desconocida.");
    } catch (const SessionGone&) {
        return SessionGoneReply();
    } catch (const BadRequest& refusal) {
        return RefusalReply(refusal.what());
    } catch (const DatabaseUnavailable&) {
        throw;  // the service answers that the database is away
    } catch (const std::exception& failure) {
        LogInternalError("/tertulia.php accion=" + Utf8FromWindows1252(accion), failure.what());
        return "ERROR: Error interno del servicio.";
    }
}

}  // namespace tertulia
