#include "session/attention.h"

#include <algorithm>

#include "session/failure_words.h"
#include "session/time_of_day.h"

namespace tertulia {

namespace {

std::string WaitingTip(int count) {
    if (count == 1) return "Tertulia: 1 conversaci\xF3n espera";
    return "Tertulia: " + std::to_string(count) + " conversaciones esperan";
}

}  // namespace

void Attention::Opened(std::int32_t idSesionClt, bool attended) {
    Waiting& waiting = waiting_[idSesionClt] = Waiting{false, std::nullopt, false};
    if (!attended) SetUnattended(idSesionClt, waiting, true);
}

bool Attention::Attended(std::int32_t idSesionClt) {
    const auto found = waiting_.find(idSesionClt);
    if (found == waiting_.end() || !found->second.unattended) return false;
    SetUnattended(idSesionClt, found->second, false);
    ShowWaiting(false);
    return true;
}

void Attention::Forget(std::int32_t idSesionClt) {
    const auto found = waiting_.find(idSesionClt);
    if (found == waiting_.end()) return;
    SetUnattended(idSesionClt, found->second, false);
    waiting_.erase(found);
}

bool Attention::Waits(std::int32_t idSesionClt) const {
    const auto found = waiting_.find(idSesionClt);
    return found != waiting_.end() && found->second.unattended;
}

void Attention::TakeNews(const NewsReply& news, const std::function<bool(std::int32_t)>& hasFocus,
                         bool remind) {
    for (auto& [id, waiting] : waiting_) {
        const std::optional<std::int64_t> lines = LineasDelVisitante(news, id);
        if (!lines) continue;
        if (waiting.visitorLines && *lines > *waiting.visitorLines && !hasFocus(id)) {
            SetUnattended(id, waiting, true);
        }
        waiting.visitorLines = lines;
    }
    ShowWaiting(remind);
}

void Attention::SetUnattended(std::int32_t idSesionClt, Waiting& waiting, bool unattended) {
    if (!unattended && !waiting.unattended) return;
    waiting.unattended = unattended;
    if (switches_.marca) list_.SetMarked(idSesionClt, unattended);
    if (unattended && switches_.notificaciones) {
        const Conversation* conversation = list_.Find(idSesionClt);
        signals_.NotifyConversation(idSesionClt,
                                    CaptionOf(conversation ? conversation->visitorName : ""),
                                    "El visitante espera respuesta.");
        waiting.notified = true;
    } else if (!unattended && waiting.notified) {
        signals_.WithdrawConversation(idSesionClt);
        waiting.notified = false;
    }
}

void Attention::ShowWaiting(bool remind) {
    const auto count = static_cast<int>(std::count_if(
        waiting_.begin(), waiting_.end(), [](const auto& each) { return each.second.unattended; }));
    if (switches_.bandeja) signals_.ShowWaiting(count, count > 0 ? WaitingTip(count) : "");
    if (!remind || count == 0 || !switches_.sonido) return;
    try {
        announcer_.Remind();
    } catch (const std::exception&) {
        // A missing sound never stops the news poll.
    }
}

void Attention::ConnectionLost(const std::exception& failure) {
    if (disconnected_) return;
    disconnected_ = true;
    const std::string since = "Sin conexi\xF3n con el servicio desde las " + TimeOfDay("%H:%M");
    if (switches_.bandeja) signals_.ShowDisconnected(true, "Tertulia: " + since);
    if (switches_.notificaciones) {
        signals_.NotifyDisconnected("Tertulia",
                                    since + ".\nMotivo: " + FailureInWords(failure) + ".");
    }
}

void Attention::ConnectionBack(bool automatic) {
    if (disconnected_) {
        disconnected_ = false;
        if (switches_.bandeja) signals_.ShowDisconnected(false, "");
        if (switches_.notificaciones) signals_.WithdrawDisconnected();
    }
    if (automatic && switches_.notificaciones) {
        signals_.NotifyReconnected("Tertulia", "Conexi\xF3n restablecida");
    }
}

}  // namespace tertulia
