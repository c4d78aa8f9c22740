#include "chat/message_encoding.h"
#include "tools/commands.h"
#include "tools/tool_io.h"

namespace tertulia::tool {

namespace {

// The line without the line end that closes it, which is no character of the line.
std::string_view WithoutLineEnd(std::string_view input) {
    if (input.ends_with("\r\n")) return input.substr(0, input.size() - 2);
    if (input.ends_with('\n')) return input.substr(0, input.size() - 1);
    return input;
}

}  // namespace

// encode: the whole input is one line; no line feed is added to the result. What the line
// loses is named on standard error, as the conversation window names it.
int RunEncode(int argc, char**) {
    if (argc != 1) return UsageError();
    const std::string input = ReadStandardInput();
    const std::string notice = AvisoNoEnviados(WithoutLineEnd(input));
    if (!notice.empty() && !WriteError(notice + "\n")) return kExitFailure;
    return WriteOut(CodificarMensaje(input)) ? 0 : kExitFailure;
}

}  // namespace tertulia::tool
