#include "service/update_api.h"

#include <charconv>
#include <stdexcept>

#include "base/md5.h"
#include "base/stream.h"
#include "protocol/service_replies.h"
#include "service/bad_request.h"
#include "service/charset.h"
#include "service/form_fields.h"

namespace tertulia {

namespace {

std::optional<int> Number(std::string_view text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || last != end || value < 0) return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::pair<int, int>> ParseVersion(std::string_view text) {
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    const auto version = Number(text.substr(0, dot));
    const auto release = Number(text.substr(dot + 1));
    if (!version || !release) return std::nullopt;
    return std::pair{*version, *release};
}

UpdateOffer UpdateOffer::Load(const std::string& fileName, const std::string& versionText) {
    const auto version = ParseVersion(versionText);
    if (!version) {
        throw std::runtime_error("la versión «" + versionText + "» no tiene la forma V.R");
    }
    std::string bytes;
    try {
        FileStream file(fileName, FileStream::Mode::Read);
        char buffer[65536];
        while (const std::size_t count = file.Read(buffer, sizeof buffer)) {
            bytes.append(buffer, count);
        }
    } catch (const std::exception& failure) {
        throw std::runtime_error("no se puede leer el archivo de actualización: " +
                                 std::string(failure.what()));
    }
    UpdateOffer offer;
    offer.version = version->first;
    offer.release = version->second;
    offer.bytes = std::make_shared<const std::string>(std::move(bytes));
    offer.digestText = Md5TextOfString(*offer.bytes);
    return offer;
}

std::string UpdateOffer::DownloadPath() const {
    return "/gl/descargas/tertulia-" + std::to_string(version) + "." + std::to_string(release);
}

std::string UpdateApi::Check(std::string_view query, const std::string& origin) const {
    try {
        const FormFields fields = FormFields::Parse(query);
        if (fields.Get("accion") != "check") throw BadRequest("Acción desconocida.");
        const std::string& program = fields.Get("prgid");
        const auto version = Number(fields.Get("ver"));
        const auto release = Number(fields.Get("rel"));
        if (!version || !release) throw BadRequest("La versión no es válida.");
        if (program != kProgramId) throw BadRequest("Programa desconocido.");
        if (offer_ && std::pair{*version, *release} < std::pair{offer_->version, offer_->release}) {
            return WriteUpdateReply({true, offer_->digestText, origin + offer_->DownloadPath()});
        }
        return WriteUpdateReply({});
    } catch (const BadRequest& refusal) {
        return Windows1252FromUtf8(std::string("ERROR: ") + refusal.what());
    }
}

}  // namespace tertulia
