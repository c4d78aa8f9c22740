#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "http/md5.h"
#include "http/stream.h"
#include "session/error_report.h"
#include "session/main_form.h"
#include "session/service_protocol.h"
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

}  // namespace

void TfrmMain::VerificarActualizacion() {
    UpdateReply update;
    try {
        update = LeerRespuestaActualizacion(http_.GetText(UrlVerificarActualizacion(serviceUrl_)));
    } catch (const std::exception& failure) {
        view_.ShowError(ConsoleErrorText(failure.what()));
        // The operator can still log in with this build.
        MostrarPanel(Panel::pnLogin);
        return;
    }
    if (!update.outdated) {
        MostrarPanel(Panel::pnLogin);
        return;
    }
    try {
        if (!view_.Confirm("Hay una Actualizacion Disponible desea Actualizar?")) return;
        // TempFileName makes the file readable and writable by its owner only.
        const std::string fileName = TempFileName();
        {
            FileStream file(fileName, FileStream::Mode::Create);
            http_.GetToStream(update.address, file);
            file.Close();
        }
        // A digest that could not be computed matches nothing, an empty announced one included.
        const std::string digest = DigestOfFile(fileName);
        if (digest.empty() || digest != update.digest) {
            ::unlink(fileName.c_str());
            view_.ShowError(
                "El Archivo de Actualizacion no se Descargo Adecuadamente Intente de Nuevo");
            return;
        }
        const std::string programName = fileName + ".exe";
        // A name that the move could not take may belong to someone else's file: that is
        // neither changed, started nor deleted, and the download stays under its own name.
        if (std::rename(fileName.c_str(), programName.c_str()) == 0) {
            // Only a file whose digest matched becomes executable.
            ::chmod(programName.c_str(), S_IRWXU);
            if (starter_(programName)) {
                view_.Quit();
                return;
            }
            ::unlink(programName.c_str());
        }
        view_.ShowWarning("Error",
                          "No se pudo ejecutar la aplicaci\xF3"
                          "n");
    } catch (const std::exception& failure) {
        view_.ShowError(ConsoleErrorText(failure.what()));
    }
}

}  // namespace tertulia
