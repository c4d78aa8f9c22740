#include "chat/transcript_rendering.h"
#include "tools/commands.h"
#include "tools/tool_io.h"

namespace tertulia::tool {

// render: an error reply goes to standard error with status 3, any other reply is rendered.
int RunRender(int argc, char**) {
    if (argc != 1) return UsageError();
    const std::string reply = ReadStandardInput();
    if (EsRespuestaDeError(reply)) {
        WriteError(reply);
        return 3;
    }
    return WriteOut(RenderizarTranscripcion(reply)) ? 0 : kExitFailure;
}

}  // namespace tertulia::tool
