#include "service/visitor_api.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>

#include "protocol/service_protocol.h"
#include "service/bad_request.h"
#include "service/charset.h"
#include "service/client_address.h"
#include "service/form_fields.h"
#include "service/json_text.h"
#include "service/service_log.h"
#include "service/visitor_name.h"

namespace tertulia {

namespace {

// A refusal with its HTTP status.
struct Refusal {
    int status;
    std::string message;
};

JsonReply ErrorReply(int status, const std::string& message) {
    return {status, "{\"error\":" + JsonString(message) + "}"};
}

const Refusal kNoConversation{404, "La conversación no existe."};

std::string_view Trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

// A visitor's text: well-formed UTF-8, trimmed, not empty, at most `limit` characters and no
// control characters.
std::string CheckedText(const std::string& raw, std::size_t limit, const char* what) {
    const std::string_view text = Trimmed(raw);
    const auto length = Utf8Length(text);
    if (!length) throw BadRequest(std::string(what) + " no es texto UTF-8 válido.");
    if (*length == 0) throw BadRequest(std::string(what) + " está vacío.");
    if (*length > limit) {
        throw BadRequest(std::string(what) + " es demasiado largo (más de " +
                         std::to_string(limit) + " caracteres).");
    }
    if (HasControlCharacter(text)) {
        throw BadRequest(std::string(what) + " contiene caracteres de control.");
    }
    return std::string(text);
}

// A context field of the page: what it holds, without control characters, cut to `limit`
// characters.
std::string ContextText(const std::string& raw, std::size_t limit) {
    if (!Utf8Length(raw)) throw BadRequest("El contexto de la página no es texto UTF-8 válido.");
    std::string text;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < raw.size() && characters < limit;) {
        const auto byte = static_cast<unsigned char>(raw[i]);
        const std::size_t length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        const std::string_view character(raw.data() + i, length);
        if (!HasControlCharacter(character)) {
            text += character;
            ++characters;
        }
        i += length;
    }
    return std::string(Trimmed(text));
}

const Refusal kConversationFull{409,
                                "La conversación ha llegado al máximo de líneas o de texto que "
                                "admite; no se guardan más mensajes."};

JsonReply Guarded(const char* route, const std::function<JsonReply()>& work) {
    try {
        return work();
    } catch (const Refusal& refusal) {
        return ErrorReply(refusal.status, refusal.message);
    } catch (const BadRequest& refusal) {
        return ErrorReply(400, refusal.what());
    } catch (const DatabaseUnavailable&) {
        throw;  // the service answers that the database is away
    } catch (const std::exception& failure) {
        LogInternalError(route, failure.what());
        return ErrorReply(500, "Error interno del servicio.");
    }
}

}  // namespace

std::string MessageJson(const StoredMessage& message) {
    return std::string("{\"autor\":") + (message.fromOperator ? "\"operador\"" : "\"visitante\"") +
           ",\"texto\":" + JsonString(message.text) + "}";
}

JsonReply VisitorApi::NoConversation() {
    return ErrorReply(kNoConversation.status, kNoConversation.message);
}

std::int64_t VisitorTouchInterval(const VisitorLimits& limits) {
    std::int64_t interval = limits.pageGoneSeconds / 2;
    if (limits.silenceSeconds != 0) {
        interval = std::min<std::int64_t>(interval, limits.silenceSeconds / 4);
    }
    return std::clamp<std::int64_t>(interval, 1, 30);
}

std::int64_t PageGoneAfter(const VisitorLimits& limits) {
    return std::int64_t{limits.pageGoneSeconds} + VisitorTouchInterval(limits);
}

JsonReply VisitorApi::Open(std::string_view form, const std::string& client) {
    return Guarded("POST /api/conversaciones", [&] {
        const FormFields fields = FormFields::Parse(form);
        const std::string& empresa = fields.Get("empresa");
        const std::string name = CheckedText(fields.Get("nombre"), kMaxName, "El nombre");
        // The console's news list separates conversations with "|".
        if (name.find('|') != std::string::npos) {
            throw BadRequest("El nombre no puede contener «|».");
        }
        if (const auto refusal = NameRefusal(name)) throw BadRequest(*refusal);
        if (!opened_.Take(LimitKey(client), clock_())) {
            throw Refusal{429,
                          "Se han abierto demasiadas conversaciones desde su dirección; "
                          "inténtelo más tarde."};
        }
        if (!openedPerNetwork_.Take(NetworkKey(client), clock_())) {
            throw Refusal{429,
                          "Se han abierto demasiadas conversaciones desde su red; "
                          "inténtelo más tarde."};
        }
        VisitorContext context;
        if (const auto contact = fields.Find("contacto")) {
            context.contact = CheckedText(*contact, kMaxContact, "El contacto");
        }
        context.page = ContextText(fields.Find("pagina").value_or(""), kMaxContext);
        context.referrer = ContextText(fields.Find("procedencia").value_or(""), kMaxContext);
        context.language = ContextText(fields.Find("idioma").value_or(""), kMaxContext);
        const OpenedConversation opened = conversations_.OpenConversation(
            empresa, name, limits_.waitingPerCompany, limits_.silenceSeconds, context);
        switch (opened.outcome) {
            case OpenedConversation::Outcome::NoCompany:
                throw Refusal{404, "La empresa no existe."};
            case OpenedConversation::Outcome::TooManyWaiting:
                throw Refusal{503,
                              "En este momento hay demasiadas conversaciones en espera; "
                              "inténtelo de nuevo dentro de unos minutos."};
            case OpenedConversation::Outcome::Opened:
                break;
        }
        const NewConversation& conversation = opened.conversation;
        return JsonReply{201, "{\"id\":" + std::to_string(conversation.id) +
                                  ",\"token\":" + JsonString(conversation.token) + "}"};
    });
}

JsonReply VisitorApi::Send(std::string_view idText, std::string_view form,
                           const std::string& client) {
    return Guarded("POST /api/conversaciones/N/mensajes", [&] {
        const auto id = ServiceConversationId(idText);
        if (!id) throw kNoConversation;
        const FormFields fields = FormFields::Parse(form);
        const std::string& token = fields.Get("token");
        const std::string text =
            CheckedText(StorableLine(fields.Get("texto")), kMaxLine, "El mensaje");
        if (!written_.Take(LimitKey(client), clock_())) {
            throw Refusal{429, "Ha enviado demasiados mensajes seguidos; espere un momento."};
        }
        switch (conversations_.AddVisitorLine(*id, token, text, limits_.perConversation)) {
            case LineResult::Stored:
                break;
            case LineResult::NotFound:
            case LineResult::Owned:  // owners concern operators' lines alone
                throw kNoConversation;
            case LineResult::Closed:
                throw Refusal{409, "La conversación está cerrada."};
            case LineResult::Full:
                throw kConversationFull;
        }
        return JsonReply{200, "{\"ok\":true}"};
    });
}

JsonReply VisitorApi::Typing(std::string_view idText, std::string_view form,
                             const std::string& client) {
    return Guarded("POST /api/conversaciones/N/escribiendo", [&] {
        const auto id = ServiceConversationId(idText);
        if (!id) throw kNoConversation;
        const FormFields fields = FormFields::Parse(form);
        if (!typing_.Take(LimitKey(client), clock_())) {
            throw Refusal{429, "Ha enviado demasiados avisos seguidos; espere un momento."};
        }
        const auto target = conversations_.VisitorTyping(*id, fields.Get("token"));
        if (!target) {
            if (conversations_.VisitorConversation(*id, fields.Get("token"))) {
                throw Refusal{409, "La conversación está cerrada."};
            }
            throw kNoConversation;
        }
        conversations_.AnnounceTyping(target->company, *id, TypingSide::Visitor, target->owner);
        return JsonReply{200, "{\"ok\":true}"};
    });
}

JsonReply VisitorApi::End(std::string_view idText, std::string_view form) {
    return Guarded("POST /api/conversaciones/N/terminar", [&] {
        const auto id = ServiceConversationId(idText);
        if (!id) throw kNoConversation;
        const FormFields fields = FormFields::Parse(form);
        switch (conversations_.EndByVisitor(*id, fields.Get("token"), kVisitorEnded)) {
            case VisitorEndResult::Ended:
                break;
            case VisitorEndResult::NotFound:
                throw kNoConversation;
            case VisitorEndResult::AlreadyClosed:
                throw Refusal{409, "La conversación está cerrada."};
        }
        return JsonReply{200, "{\"ok\":true}"};
    });
}

JsonReply VisitorApi::Rate(std::string_view idText, std::string_view form) {
    return Guarded("POST /api/conversaciones/N/valoracion", [&] {
        const auto id = ServiceConversationId(idText);
        if (!id) throw kNoConversation;
        const FormFields fields = FormFields::Parse(form);
        const std::string& answer = fields.Get("ayudado");
        if (answer != "si" && answer != "no") {
            throw BadRequest("La respuesta se escribe ayudado=si o ayudado=no.");
        }
        const auto comment = fields.Find("comentario");
        const std::string text =
            comment && !Trimmed(*comment).empty()
                ? CheckedText(StorableLine(*comment), kMaxComment, "El comentario")
                : std::string();
        switch (conversations_.Rate(*id, fields.Get("token"), answer == "si", text)) {
            case RatingResult::Stored:
                break;
            case RatingResult::NotFound:
                throw kNoConversation;
            case RatingResult::Open:
                throw Refusal{409, "La conversación sigue abierta; valórela cuando termine."};
            case RatingResult::AlreadyRated:
                throw Refusal{409, "La conversación ya está valorada."};
        }
        return JsonReply{200, "{\"ok\":true}"};
    });
}

JsonReply VisitorApi::Company(const std::string& code, Companies& companies) {
    return Guarded("GET /api/empresas/CODE", [&] {
        const auto front = companies.Front(code, clock_(), kPresentSeconds);
        if (!front) throw Refusal{404, "La empresa no existe."};
        return JsonReply{200, "{\"nombre\":" + JsonString(front->name) +
                                  ",\"atendida\":" + (front->attended ? "true" : "false") + "}"};
    });
}

JsonReply VisitorApi::Read(std::string_view idText, std::string_view query) {
    return Guarded("GET /api/conversaciones/N", [&] {
        const auto id = ServiceConversationId(idText);
        if (!id) throw kNoConversation;
        const FormFields fields = FormFields::Parse(query);
        // A page that reads every two seconds is heard from.
        const auto conversation = conversations_.VisitorConversation(*id, fields.Get("token"),
                                                                     VisitorTouchInterval(limits_));
        if (!conversation) throw kNoConversation;
        // A transcript may be a quarter of a megabyte: a few are built at a time, so that a
        // flood of reads costs their CPU, not memory for each of them at once.
        transcriptTurns_.acquire();
        const struct Release {
            std::counting_semaphore<>& turns;
            ~Release() { turns.release(); }
        } release{transcriptTurns_};
        const std::vector<StoredMessage> messages = conversations_.Messages(conversation->id);
        // Sized once: a long transcript's reply is not grown by doubling.
        std::size_t size = 64;
        for (const StoredMessage& message : messages) size += message.text.size() + 48;
        std::string body;
        body.reserve(size);
        body += "{\"abierta\":";
        body += conversation->open ? "true" : "false";
        body += ",\"mensajes\":[";
        bool first = true;
        for (const StoredMessage& message : messages) {
            if (message.fromService) continue;
            if (!first) body += ',';
            first = false;
            body += MessageJson(message);
        }
        body += "]}";
        return JsonReply{200, std::move(body)};
    });
}

}  // namespace tertulia
