#include "service/access_log.h"

#include <time.h>

#include <stdexcept>

#include "service/client_address.h"
#include "service/service_log.h"

namespace tertulia {

AccessLog::AccessLog(const std::string& destination, std::set<std::string> trustedProxies)
    : path_(destination == "-" ? "" : destination), trustedProxies_(std::move(trustedProxies)) {
    if (path_.empty()) return;
    file_.reset(std::fopen(path_.c_str(), "a"));
    if (!file_) throw std::runtime_error("no se puede escribir el registro de accesos " + path_);
}

AccessLog::~AccessLog() = default;

void AccessLog::Write(const AccessRecord& record) {
    const std::string client = ClientAddress(record.peer, record.forwardedFor, trustedProxies_);
    const time_t now = time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    char stamp[40];
    strftime(stamp, sizeof stamp, "[%d/%b/%Y:%H:%M:%S +0000]", &utc);
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1fms", record.milliseconds);
    const std::string line =
        client + " - - " + stamp + " \"" + (record.method.empty() ? "-" : record.method) + " " +
        LoggedTarget(record.target) + "\" " +
        (record.status == 0 ? std::string("-") : std::to_string(record.status)) + " " +
        std::to_string(record.bytes) + " " + duration + "\n";
    std::lock_guard lock(mutex_);
    std::FILE* out = file_ ? file_.get() : stdout;
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
}

void AccessLog::Reopen() {
    if (path_.empty()) return;
    std::unique_ptr<std::FILE, Closer> reopened(std::fopen(path_.c_str(), "a"));
    if (!reopened) {
        LogLine(LogPriority::Error, "no se puede reabrir el registro de accesos " + path_ +
                                        "; se sigue escribiendo en el anterior");
        return;
    }
    std::lock_guard lock(mutex_);
    file_.swap(reopened);
}

std::string LoggedTarget(std::string_view target) {
    std::string kept;
    const std::size_t question = target.find('?');
    kept = target.substr(0, question);
    if (question != std::string_view::npos) {
        std::string_view query = target.substr(question + 1);
        char separator = '?';
        while (true) {
            const std::size_t amp = query.find('&');
            const std::string_view field = query.substr(0, amp);
            const std::string_view name = field.substr(0, field.find('='));
            kept += separator;
            separator = '&';
            if (name == "contrasena" || name == "idsesion" || name == "token" ||
                name == "mensaje") {
                kept += std::string(name) + "=-";
            } else {
                kept += field;
            }
            if (amp == std::string_view::npos) break;
            query.remove_prefix(amp + 1);
        }
    }
    std::string out;
    for (const char c : kept) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            static constexpr char kDigits[] = "0123456789ABCDEF";
            out += '%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace tertulia
