#pragma once

#include <string>
#include <string_view>

#include "service/storage.h"

namespace tertulia {

// A reply of the visitors' JSON API.
struct JsonReply {
    int status = 200;
    std::string body;
};

// The JSON API of the visitor page. Bodies are form fields in UTF-8; each conversation is
// reached only with the token it was opened with, and a wrong token looks exactly like a
// conversation that does not exist. Refusals are 4xx replies {"error":"..."} in Spanish.
class VisitorApi {
  public:
    static constexpr std::size_t kMaxName = 60;
    static constexpr std::size_t kMaxLine = 2000;

    explicit VisitorApi(Storage& storage) : storage_(storage) {}

    // POST /api/conversaciones: fields empresa, nombre -> {"id":N,"token":"..."}.
    JsonReply Open(std::string_view form);
    // POST /api/conversaciones/N/mensajes: fields token, texto -> {"ok":true}.
    JsonReply Send(std::string_view idText, std::string_view form);
    // GET /api/conversaciones/N?token=... -> {"abierta":..,"mensajes":[{"autor":..,"texto":..}]}.
    JsonReply Read(std::string_view idText, std::string_view query);

  private:
    Storage& storage_;
};

}  // namespace tertulia
