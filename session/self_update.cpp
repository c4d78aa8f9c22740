#include "session/self_update.h"

#include <exception>

#include "base/md5.h"
#include "base/stream.h"
#include "http/http_client.h"
#include "protocol/service_protocol.h"
#include "session/dialogs.h"
#include "session/error_report.h"
#include "session/temp_file.h"

namespace tertulia {

namespace {

std::string DigestOfFile(const std::string& fileName) {
    try {
        FileStream file(fileName, FileStream::Mode::Read);
        return Md5TextOfStream(file);
    } catch (const std::exception&) {
        return "";
    }
}

UpdateOutcome DownloadAndStart(HttpClient& http, Dialogs& dialogs, const ProgramStarter& starter,
                               const UpdateReply& update) {
    // TempFileName makes the file readable and writable by its owner only.
    const std::string fileName = TempFileName();
    {
        FileStream file(fileName, FileStream::Mode::Create);
        http.GetToStream(update.address, file);
        file.Close();
    }
    // A digest that could not be computed matches nothing, an empty announced one included.
    const std::string digest = DigestOfFile(fileName);
    if (digest.empty() || digest != update.digest) {
        RemoveFile(fileName);
        dialogs.ShowError(
            "El Archivo de Actualizacion no se Descargo Adecuadamente Intente de Nuevo");
        return UpdateOutcome::BadDownload;
    }
    const std::string programName = ProgramNameOf(fileName);
    // A name that the move could not take may belong to someone else's file: that is neither
    // changed, started nor deleted, and the download stays under its own name.
    if (MoveFile(fileName, programName)) {
        // Only a file whose digest matched becomes executable.
        MakeExecutable(programName);
        if (starter(programName)) return UpdateOutcome::Started;
        RemoveFile(programName);
    }
    dialogs.ShowWarning("Error",
                        "No se pudo ejecutar la aplicaci\xF3"
                        "n");
    return UpdateOutcome::NotStarted;
}

}  // namespace

UpdateOutcome VerificarActualizacion(HttpClient& http, Dialogs& dialogs,
                                     const ProgramStarter& starter, const std::string& serviceUrl) {
    UpdateReply update;
    try {
        update = ReadUpdateReply(http.GetText(UpdateCheckUrl(serviceUrl)));
    } catch (const std::exception& failure) {
        dialogs.ShowError(ConsoleErrorText(failure.what()));
        return UpdateOutcome::CheckFailed;
    }
    if (!update.outdated) return UpdateOutcome::UpToDate;
    try {
        if (!dialogs.Confirm("Hay una Actualizacion Disponible desea Actualizar?")) {
            return UpdateOutcome::Declined;
        }
        return DownloadAndStart(http, dialogs, starter, update);
    } catch (const std::exception& failure) {
        dialogs.ShowError(ConsoleErrorText(failure.what()));
        return UpdateOutcome::BadDownload;
    }
}

}  // namespace tertulia
