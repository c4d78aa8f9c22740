#include "service/operator_api.h"

#include <charconv>
#include <cstdint>
#include <exception>

#include "service/bad_request.h"
#include "service/charset.h"
#include "service/form_fields.h"
#include "service/transcript_markup.h"

namespace tertulia {

namespace {

// Refusal for a session that is unknown, expired or not the company's: the console goes back
// to its login panel on the full stop.
class SessionGone : public std::exception {};

std::int32_t ConversationId(const std::string& text) {
    std::int32_t id = 0;
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, id);
    if (text.empty() || error != std::errc() || last != end || id <= 0) {
        throw BadRequest("El identificador de conversación «" + Utf8FromWindows1252(text) +
                         "» no es válido.");
    }
    return id;
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
    return Utf8FromWindows1252(bytes);
}

std::string Transcript(Storage& storage, const ConversationInfo& conversation) {
    std::vector<TranscriptLine> lines;
    for (StoredMessage& message : storage.Messages(conversation.id)) {
        lines.push_back(
            {message.fromOperator ? OperatorApi::kOperatorName : conversation.visitorName,
             std::move(message.text)});
    }
    return TranscriptMarkup(lines);
}

std::string Missing(std::int32_t id) {
    return Windows1252FromUtf8("ERROR: La conversación " + std::to_string(id) + " no existe.");
}

std::string Closed(std::int32_t id) {
    return Windows1252FromUtf8("ERROR: La conversación " + std::to_string(id) + " está cerrada.");
}

class Request {
  public:
    Request(Storage& storage, const FormFields& fields) : storage_(storage), fields_(fields) {}

    // Each reply is Windows-1252 text.
    std::string Login() {
        const auto session = storage_.Login(Code(), fields_.Get("contrasena"));
        if (!session) {
            return Windows1252FromUtf8("ERROR: Código de empresa o contraseña incorrectos.");
        }
        return "OK=" + *session;
    }

    std::string News() {
        const std::int64_t company = Company();
        std::string reply = "OK,";
        for (const ConversationInfo& conversation : storage_.OpenConversations(company)) {
            reply += std::to_string(conversation.id) + "=" +
                     Windows1252FromUtf8(conversation.visitorName) + "|";
        }
        return reply;
    }

    std::string Chat() {
        const std::int64_t company = Company();
        const std::int32_t id = ConversationId(fields_.Get("idsesionclt"));
        const auto mensaje = fields_.Find("mensaje");
        // A line whose every character the console's encoding dropped arrives empty.
        if (mensaje && !mensaje->empty()) {
            switch (storage_.AddOperatorLine(company, id, OperatorLine(*mensaje))) {
                case LineResult::NotFound:
                    return Missing(id);
                case LineResult::Closed:
                    return Closed(id);
                case LineResult::Stored:
                    break;
            }
        }
        const auto conversation = storage_.CompanyConversation(company, id);
        if (!conversation) return Missing(id);
        if (!conversation->open) return Closed(id);
        return Transcript(storage_, *conversation);
    }

    std::string Drop() {
        const std::int64_t company = Company();
        const std::int32_t id = ConversationId(fields_.Get("idsesionclt"));
        switch (storage_.Close(company, id)) {
            case CloseResult::Closed:
                return "OK";
            case CloseResult::NotFound:
                return Missing(id);
            case CloseResult::AlreadyClosed:
                return Closed(id);
        }
        return Missing(id);
    }

  private:
    std::string Code() const { return Utf8FromWindows1252(fields_.Get("idempresa")); }

    std::int64_t Company() {
        const std::string code = Code();
        const auto company = storage_.SessionCompany(code, fields_.Get("idsesion"));
        if (!company) throw SessionGone();
        return *company;
    }

    Storage& storage_;
    const FormFields& fields_;
};

}  // namespace

std::string OperatorApi::Answer(std::string_view query) {
    try {
        const FormFields fields = FormFields::Parse(query);
        Request request(storage_, fields);
        const std::string& accion = fields.Get("accion");
        if (accion == "do_login") return request.Login();
        if (accion == "get_news") return request.News();
        if (accion == "getchat") return request.Chat();
        if (accion == "dropclt") return request.Drop();
        return Windows1252FromUtf8("ERROR: Acción desconocida.");
    } catch (const SessionGone&) {
        return Windows1252FromUtf8("ERROR. La sesión no existe o ha caducado; conéctese de nuevo.");
    } catch (const BadRequest& refusal) {
        return Windows1252FromUtf8(std::string("ERROR: ") + refusal.what());
    } catch (const std::exception&) {
        return "ERROR: Error interno del servicio.";
    }
}

}  // namespace tertulia
