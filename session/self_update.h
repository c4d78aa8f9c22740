#pragma once

#include <string>

#include "session/program_starter.h"

namespace tertulia {

class Dialogs;
class HttpClient;

// What the update check ended with; the dialogs it needed have been shown.
enum class UpdateOutcome {
    UpToDate,     // the build is current
    CheckFailed,  // the check request failed
    Declined,     // the operator did not want the update
    BadDownload,  // no temporary file, a failed download, or a digest that did not match
    Started,      // the verified program runs; this one is to end
    NotStarted,   // the verified program could not be started
};

// VerificarActualizacion's steps: asks the update script at `serviceUrl` whether this build is
// outdated and, if the operator agrees, downloads, verifies and starts the new program.
UpdateOutcome VerificarActualizacion(HttpClient& http, Dialogs& dialogs,
                                     const ProgramStarter& starter, const std::string& serviceUrl);

}  // namespace tertulia
