#include "chat/message_encoding.h"
#include "tools/commands.h"
#include "tools/tool_io.h"

namespace tertulia::tool {

// encode: the whole input is one line; no line feed is added to the result.
int RunEncode(int argc, char**) {
    if (argc != 1) return UsageError();
    return WriteOut(CodificarMensaje(ReadStandardInput())) ? 0 : kExitFailure;
}

}  // namespace tertulia::tool
