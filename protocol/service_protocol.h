#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tertulia {

// Requests to the service script and the update script. `base` is the server's address without
// a trailing slash (for example "http://localhost:8080"); every value is inserted as it is,
// with no encoding.
// `consola`, the console's key (IsConsoleKey), goes after the fixed parameters; an empty one
// leaves the request as it always was.
std::string LoginUrl(std::string_view base, std::string_view empresa, std::string_view digest,
                     std::string_view consola = {});
std::string NewsUrl(std::string_view base, std::string_view empresa, std::string_view idSesion);
std::string TranscriptUrl(std::string_view base, std::string_view empresa,
                          std::string_view idSesion, std::int32_t idSesionClt);
// `mensaje` is already encoded by CodificarMensaje.
std::string SendLineUrl(std::string_view base, std::string_view empresa, std::string_view idSesion,
                        std::int32_t idSesionClt, std::string_view mensaje);
std::string CloseConversationUrl(std::string_view base, std::string_view empresa,
                                 std::string_view idSesion, std::int32_t idSesionClt);
// Ends the session on the service, which hands its conversations to the company's other
// consoles at once.
std::string LogoutUrl(std::string_view base, std::string_view empresa, std::string_view idSesion);
// Tells the visitor of the conversation that the operator is typing.
std::string TypingUrl(std::string_view base, std::string_view empresa, std::string_view idSesion,
                      std::int32_t idSesionClt);
// The company's ready answers (ReadReadyAnswersReply).
std::string ReadyAnswersUrl(std::string_view base, std::string_view empresa,
                            std::string_view idSesion);
// Hands the conversation on to the company's other consoles: "OK", or an "ERROR" text.
std::string HandOnUrl(std::string_view base, std::string_view empresa, std::string_view idSesion,
                      std::int32_t idSesionClt);
// The number of the company's other consoles heard from lately (ReadOtherConsolesReply).
std::string OtherConsolesUrl(std::string_view base, std::string_view empresa,
                             std::string_view idSesion);
std::string UpdateCheckUrl(std::string_view base);

// A console's key, which tells the service that a login comes from the console program that
// held an earlier session (after a crash, say), so that it takes that session's conversations
// over: 32 hexadecimal digits, 128 bits.
bool IsConsoleKey(std::string_view text);

// The reply header by which the service says that it did not store the line that a send
// request carried (the reply itself says why); an older service sends none.
inline constexpr std::string_view kCabeceraLinea = "Tertulia-Linea";
inline constexpr std::string_view kValorLineaNoGuardada = "no-guardada";
// Whether that header's value says so.
bool LineaNoGuardada(std::string_view valorCabecera);

// True when the reply's first characters equal `word` exactly, letter case included.
bool EmpiezaCon(std::string_view reply, std::string_view word);

// Reads a conversation id: leading spaces, an optional "+" or "-", then decimal digits, or
// hexadecimal digits after "$", "x", "X" or "0x", and nothing after them. Decimal values must
// lie in the signed 32-bit range; hexadecimal ones may use all 32 bits (so "$FFFFFFFF" is -1).
// Anything else, the empty text and a lone sign or prefix included, is not a number.
std::optional<std::int32_t> ReadConversationId(std::string_view text);

// A conversation id in the form that the service writes and takes: decimal digits only (the
// other forms that ReadConversationId reads are refused), and positive.
std::optional<std::int32_t> ServiceConversationId(std::string_view text);

// A count of lines: decimal digits only, at most 18 of them.
std::optional<std::int64_t> ReadLineCount(std::string_view text);

// The failure message for an id text that is not a number.
std::string InvalidIdMessage(std::string_view idText);

struct LoginReply {
    enum class Kind { Ok, Error, Refused };
    Kind kind = Kind::Refused;
    std::string idSesion;  // for Ok: the text after the first "=", empty without one
    bool operator==(const LoginReply&) const = default;
};
LoginReply ReadLoginReply(std::string_view reply);

struct NewsEntry {
    std::int32_t idSesionClt = 0;
    std::string nombre;
    bool operator==(const NewsEntry&) const = default;
};

struct VisitorLines {
    std::int32_t idSesionClt = 0;
    std::int64_t count = 0;
    bool operator==(const VisitorLines&) const = default;
};

struct NewsReply {
    enum class Kind {
        List,         // "OK": the entries below
        ErrorStatus,  // "ERROR.": back to the login panel, reply in the status line
        Error,        // "ERROR": reply in an error dialog
        Other,        // anything else: back to the login panel
    };
    Kind kind = Kind::Other;
    // Entries in reply order, duplicates kept: skipping ids already listed is the console's job.
    std::vector<NewsEntry> entries;
    // Reading stopped at an entry whose id text is not a number; `badIdText` holds that text.
    bool stoppedAtBadId = false;
    std::string badIdText;
    // The number of lines each conversation's visitor has written, by conversation id, when the
    // service sends them ("OK lineas=ID:COUNT;ID:COUNT,..."); empty from an older service.
    std::vector<VisitorLines> visitorLines;
    // The conversations that the service closed lately, among those the console may hold
    // ("...;cerrada=ID;cerrada=ID,..." after the counts); empty from an older service. One that
    // another console took is not among them.
    std::vector<std::int32_t> closed;
    bool operator==(const NewsReply&) const = default;
};

// The line count of `idSesionClt` in `news`, if the reply carried one.
std::optional<std::int64_t> VisitorLinesOf(const NewsReply& news, std::int32_t idSesionClt);
NewsReply ReadNewsReply(std::string_view reply);

struct CloseReply {
    bool ok = false;  // otherwise the reply goes into an error dialog
    bool operator==(const CloseReply&) const = default;
};
CloseReply ReadCloseReply(std::string_view reply);

struct LogoutReply {
    bool ok = false;  // the session has ended
    bool operator==(const LogoutReply&) const = default;
};
LogoutReply ReadLogoutReply(std::string_view reply);

struct UpdateReply {
    bool outdated = false;
    std::string digest;   // expected digest text of the new program
    std::string address;  // where to download it from, used verbatim
    bool operator==(const UpdateReply&) const = default;
};
UpdateReply ReadUpdateReply(std::string_view reply);

// The count of other consoles: decimal digits alone. Anything else (an older service's
// "ERROR" text, say) is nothing.
std::optional<int> ReadOtherConsolesReply(std::string_view reply);

}  // namespace tertulia
