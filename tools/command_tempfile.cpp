#include "session/temp_file.h"
#include "tools/commands.h"
#include "tools/tool_io.h"

namespace tertulia::tool {

// tempfile: creates the file as the program does for a download; failures reach main.
int RunTempfile(int argc, char**) {
    if (argc != 1) return UsageError();
    return WriteOut(TempFileName() + "\n") ? 0 : kExitFailure;
}

}  // namespace tertulia::tool
