#pragma once

#include <string>
#include <string_view>

#include "service/storage.h"

namespace tertulia {

// The service script "/tertulia.php": login, news, transcript (optionally storing a line first)
// and closing a conversation. Replies are Windows-1252 text in exactly the forms the console
// reads; every refusal starts with "ERROR" and says why in Spanish, and "ERROR." means that the
// session is gone and the operator has to log in again.
class OperatorApi {
  public:
    // The author name of the operator's lines in transcripts.
    static constexpr const char* kOperatorName = "Operador";
    static constexpr std::size_t kMaxLine = 2000;

    explicit OperatorApi(Storage& storage) : storage_(storage) {}

    // The reply to a request whose query string is `query`, still percent-encoded.
    std::string Answer(std::string_view query);

  private:
    Storage& storage_;
};

}  // namespace tertulia
