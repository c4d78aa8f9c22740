#include "protocol/service_protocol.h"

#include <algorithm>

#include "protocol/reply_fields.h"

namespace tertulia {

namespace {

std::string Concat(std::initializer_list<std::string_view> pieces) {
    std::size_t size = 0;
    for (std::string_view piece : pieces) size += piece.size();
    std::string text;
    text.reserve(size);
    for (std::string_view piece : pieces) text += piece;
    return text;
}

std::string ChatUrl(std::string_view base, std::string_view accion, std::string_view empresa,
                    std::string_view idSesion) {
    return Concat(
        {base, "/tertulia.php?accion=", accion, "&idempresa=", empresa, "&idsesion=", idSesion});
}

// An action on one of the session's conversations.
std::string ConversationUrl(std::string_view base, std::string_view accion,
                            std::string_view empresa, std::string_view idSesion,
                            std::int32_t idSesionClt) {
    return ChatUrl(base, accion, empresa, idSesion) + "&idsesionclt=" + std::to_string(idSesionClt);
}

// The update reply's rule: the text after the separator, or the whole text without one.
std::string AfterOrWhole(std::string_view text, std::string_view separator) {
    if (text.find(separator) == std::string_view::npos) return std::string(text);
    return TextoDespues(text, separator, false);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The pairs between "OK lineas=" and the first ",", separated by ";": "ID:COUNT", a visitor's
// line count, and "cerrada=ID", a conversation closed. A pair that reads as neither is left out;
// anything but that head gives nothing.
void ReadHead(std::string_view head, NewsReply& news) {
    constexpr std::string_view kPrefix = "OK lineas=";
    constexpr std::string_view kClosed = "cerrada=";
    if (!EmpiezaCon(head, kPrefix)) return;
    head.remove_prefix(kPrefix.size());
    while (!head.empty()) {
        const std::size_t semicolon = head.find(';');
        const std::string_view pair = head.substr(0, semicolon);
        head =
            semicolon == std::string_view::npos ? std::string_view{} : head.substr(semicolon + 1);
        if (EmpiezaCon(pair, kClosed)) {
            if (const auto id = ReadConversationId(pair.substr(kClosed.size())))
                news.closed.push_back(*id);
            continue;
        }
        const std::size_t colon = pair.find(':');
        if (colon == std::string_view::npos) continue;
        const std::optional<std::int32_t> id = ReadConversationId(pair.substr(0, colon));
        const std::optional<std::int64_t> count = ReadLineCount(pair.substr(colon + 1));
        if (id && count) news.visitorLines.push_back({*id, *count});
    }
}

}  // namespace

std::string LoginUrl(std::string_view base, std::string_view empresa, std::string_view digest,
                     std::string_view consola) {
    std::string url =
        Concat({base, "/tertulia.php?accion=do_login&idempresa=", empresa, "&contrasena=", digest});
    if (!consola.empty()) url += Concat({"&consola=", consola});
    return url;
}

std::string NewsUrl(std::string_view base, std::string_view empresa, std::string_view idSesion) {
    return ChatUrl(base, "get_news", empresa, idSesion);
}

std::string TranscriptUrl(std::string_view base, std::string_view empresa,
                          std::string_view idSesion, std::int32_t idSesionClt) {
    return ConversationUrl(base, "getchat", empresa, idSesion, idSesionClt);
}

std::string SendLineUrl(std::string_view base, std::string_view empresa, std::string_view idSesion,
                        std::int32_t idSesionClt, std::string_view mensaje) {
    return TranscriptUrl(base, empresa, idSesion, idSesionClt) + "&mensaje=" + std::string(mensaje);
}

std::string CloseConversationUrl(std::string_view base, std::string_view empresa,
                                 std::string_view idSesion, std::int32_t idSesionClt) {
    return ConversationUrl(base, "dropclt", empresa, idSesion, idSesionClt);
}

std::string LogoutUrl(std::string_view base, std::string_view empresa, std::string_view idSesion) {
    return ChatUrl(base, "do_logout", empresa, idSesion);
}

std::string TypingUrl(std::string_view base, std::string_view empresa, std::string_view idSesion,
                      std::int32_t idSesionClt) {
    return ConversationUrl(base, "escribiendo", empresa, idSesion, idSesionClt);
}

std::string ReadyAnswersUrl(std::string_view base, std::string_view empresa,
                            std::string_view idSesion) {
    return ChatUrl(base, "respuestas", empresa, idSesion);
}

std::string HandOnUrl(std::string_view base, std::string_view empresa, std::string_view idSesion,
                      std::int32_t idSesionClt) {
    return ConversationUrl(base, "ceder", empresa, idSesion, idSesionClt);
}

std::string OtherConsolesUrl(std::string_view base, std::string_view empresa,
                             std::string_view idSesion) {
    return ChatUrl(base, "consolas", empresa, idSesion);
}

std::string UpdateCheckUrl(std::string_view base) {
    return Concat({base, "/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1"});
}

bool IsConsoleKey(std::string_view text) {
    return text.size() == 32 &&
           std::all_of(text.begin(), text.end(), [](char c) { return HexDigit(c) >= 0; });
}

bool LineaNoGuardada(std::string_view valorCabecera) {
    return valorCabecera == kValorLineaNoGuardada;
}

bool EmpiezaCon(std::string_view reply, std::string_view word) {
    return reply.substr(0, word.size()) == word;
}

std::optional<std::int32_t> ReadConversationId(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && text[i + 1] == 'x') {
        hex = true;
        i += 2;
    }
    if (i == text.size()) return std::nullopt;

    // The magnitude is kept below 2^32, so the accumulation never overflows.
    const std::uint64_t limit = hex ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit =
            hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
        if (value > limit) return std::nullopt;
    }
    // Two's complement wrap-around, well defined on unsigned values.
    const std::uint32_t bits = static_cast<std::uint32_t>(negative ? 0 - value : value);
    return static_cast<std::int32_t>(bits);
}

std::optional<std::int32_t> ServiceConversationId(std::string_view text) {
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const std::optional<std::int32_t> id = ReadConversationId(text);
    if (!id || *id <= 0) return std::nullopt;
    return id;
}

std::optional<std::int64_t> ReadLineCount(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::int64_t count = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        count = count * 10 + (c - '0');
    }
    return count;
}

std::string InvalidIdMessage(std::string_view idText) {
    return Concat({"'", idText, "' is not a valid integer value"});
}

LoginReply ReadLoginReply(std::string_view reply) {
    if (EmpiezaCon(reply, "OK")) return {LoginReply::Kind::Ok, TextoDespues(reply, "=", false)};
    if (EmpiezaCon(reply, "ERROR")) return {LoginReply::Kind::Error, {}};
    return {LoginReply::Kind::Refused, {}};
}

NewsReply ReadNewsReply(std::string_view reply) {
    NewsReply result;
    if (EmpiezaCon(reply, "OK")) {
        result.kind = NewsReply::Kind::List;
        // Walked by position rather than cut repeatedly, so a long list stays linear.
        const std::size_t comma = reply.find(',');
        ReadHead(reply.substr(0, comma), result);
        std::string_view rest =
            comma == std::string_view::npos ? std::string_view{} : reply.substr(comma + 1);
        for (std::size_t bar = rest.find('|'); bar != std::string_view::npos;
             bar = rest.find('|')) {
            const std::string_view entry = rest.substr(0, bar);
            rest.remove_prefix(bar + 1);
            std::string idText = TextoAntes(entry, "=", false);
            const std::optional<std::int32_t> id = ReadConversationId(idText);
            if (!id) {
                result.stoppedAtBadId = true;
                result.badIdText = std::move(idText);
                break;
            }
            result.entries.push_back({*id, TextoDespues(entry, "=", false)});
        }
    } else if (EmpiezaCon(reply, "ERROR.")) {
        result.kind = NewsReply::Kind::ErrorStatus;
    } else if (EmpiezaCon(reply, "ERROR")) {
        result.kind = NewsReply::Kind::Error;
    }
    return result;
}

std::optional<std::int64_t> VisitorLinesOf(const NewsReply& news, std::int32_t idSesionClt) {
    for (const VisitorLines& each : news.visitorLines) {
        if (each.idSesionClt == idSesionClt) return each.count;
    }
    return std::nullopt;
}

CloseReply ReadCloseReply(std::string_view reply) {
    return {EmpiezaCon(reply, "OK")};
}

LogoutReply ReadLogoutReply(std::string_view reply) {
    return {EmpiezaCon(reply, "OK")};
}

UpdateReply ReadUpdateReply(std::string_view reply) {
    if (TextoAntes(reply, ".", false) != "DESACTUALIZADA") return {};
    const std::string rest = AfterOrWhole(reply, ".");
    return {true, TextoAntes(rest, ",", false), AfterOrWhole(rest, ",")};
}

std::optional<int> ReadOtherConsolesReply(std::string_view reply) {
    // Nine digits keep any value inside an int.
    if (reply.empty() || reply.size() > 9) return std::nullopt;
    int count = 0;
    for (char c : reply) {
        if (c < '0' || c > '9') return std::nullopt;
        count = count * 10 + (c - '0');
    }
    return count;
}

}  // namespace tertulia
