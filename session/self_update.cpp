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
    // adapted after merge
}

}  // namespace tertulia
