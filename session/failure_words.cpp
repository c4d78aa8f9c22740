#include "session/failure_words.h"

#include "http/http_errors.h"

namespace tertulia {

namespace {

std::string SocketFailureInWords(int number) {
    switch (number) {
        case 10061:
            return "conexi\xF3n rechazada";
        case kSocketTimedOut:
            return "el servicio no responde";
        case kSocketHostNotFound:
        case 11002:  // the name service failed for now: to the operator, the same
            return "no se encuentra el servidor";
        case 10052:
        case 10053:
        case 10054:
            return "la conexi\xF3n se ha cortado";
        case 10050:
        case 10051:
        case 10064:
        case 10065:
            return "no hay camino hasta el servidor";
        default:
            return "error de red " + std::to_string(number);
    }
}

}  // namespace

std::string FailureInWords(const std::exception& failure) {
    if (const auto* socket = dynamic_cast<const SocketError*>(&failure)) {
        return SocketFailureInWords(socket->Number());
    }
    if (dynamic_cast<const HttpProtocolError*>(&failure) != nullptr) {
        return "el servicio responde \xAB" + std::string(failure.what()) + "\xBB";
    }
    if (std::string(failure.what()) == kConnectionClosedGracefully) {
        return "el servicio ha cerrado la conexi\xF3n";
    }
    return failure.what();
}

}  // namespace tertulia
