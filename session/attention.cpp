#include "session/attention.h"

#include <algorithm>

#include "session/failure_words.h"
#include "session/time_of_day.h"
#include "session/waiting_notices.h"

namespace tertulia {

namespace {

std::string WaitingTip(int count) {
    if (count == 1) return "Tertulia: 1 conversaci\xF3n espera";
    return "Tertulia: " + std::to_string(count) + " conversaciones esperan";
}

}  // namespace

void Attention::Opened(std::int32_t idSesionClt, bool attended) {
    Waiting& waiting = waiting_[idSesionClt] = Waiting{};
    if (attended) {
        waiting.fresh = false;
    } else {
        SetUnattended(idSesionClt, waiting, true);
    }
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
    Withdraw(idSesionClt, found->second);
    waiting_.erase(found);
}

void Attention::Heard(std::int32_t idSesionClt, std::int64_t visitorLines) {
    const auto found = waiting_.find(idSesionClt);
    if (found == waiting_.end()) return;
    found->second.heard = std::max(found->second.heard, visitorLines);
}

void Attention::TranscriptRead(std::int32_t idSesionClt, bool focused, const std::string& reply) {
    const auto found = waiting_.find(idSesionClt);
    if (found == waiting_.end()) return;
    Waiting& waiting = found->second;
    const Conversation* conversation = list_.Find(idSesionClt);
    if (conversation == nullptr) return;
    if (focused) {
        // Requests block, so no count arrives while this one ran: every line told of by then
        // was in the transcript, and so was every line of the visitor's that it shows.
        waiting.seen = std::max({waiting.seen, waiting.heard, waiting.visitorLines.value_or(-1),
                                 LineasEscritasPor(reply, conversation->visitorName)});
    }
    std::optional<std::string> line = UltimaLineaDelVisitante(reply, conversation->visitorName);
    if (!line) return;
    const bool news = line != waiting.lastLine;
    if (news || focused) waiting.lastLineSeen = focused;
    waiting.lastLine = std::move(line);
    if (news && waiting.unattended) Notify();
}

void Attention::TakeNews(const NewsReply& news, const std::function<bool(std::int32_t)>& hasFocus,
                         bool remind) {
    for (auto& [id, waiting] : waiting_) {
        const std::optional<std::int64_t> lines = VisitorLinesOf(news, id);
        if (!lines) continue;
        if (waiting.visitorLines && *lines > std::max(*waiting.visitorLines, waiting.seen) &&
            !hasFocus(id)) {
            SetUnattended(id, waiting, true);
        }
        waiting.visitorLines = lines;
    }
    ShowWaiting(remind);
}

void Attention::SetUnattended(std::int32_t idSesionClt, Waiting& waiting, bool unattended) {
    if (!unattended && !waiting.unattended) return;
    waiting.unattended = unattended;
    if (unattended) {
        waiting.renew = true;
    } else {
        waiting.fresh = false;
    }
    if (switches_.marca) list_.SetMarked(idSesionClt, unattended);
}

int Attention::CountWaiting() const {
    return static_cast<int>(std::count_if(waiting_.begin(), waiting_.end(),
                                          [](const auto& each) { return each.second.unattended; }));
}

std::string Attention::BodyOf(const Waiting& waiting) const {
    // A line the operator has read is no news: the window has not fetched the new one yet.
    if (waiting.lastLine && !waiting.lastLineSeen) return NotificationBody(*waiting.lastLine);
    return waiting.fresh ? "Nueva conversaci\xF3n" : "El visitante espera respuesta.";
}

void Attention::Withdraw(std::int32_t idSesionClt, Waiting& waiting) {
    waiting.renew = false;
    if (!waiting.notified) return;
    signals_.WithdrawConversation(idSesionClt);
    waiting.notified.reset();
}

void Attention::Notify() {
    if (!switches_.notificaciones) return;
    const int count = CountWaiting();
    const bool summarise = count > kMostConversationNotifications;
    // What goes is withdrawn before anything new is shown, so that no more are out at a time.
    for (auto& [id, waiting] : waiting_) {
        if (summarise || !waiting.unattended) Withdraw(id, waiting);
    }
    if (summarise) {
        if (summarised_ == count) return;
        summarised_ = count;
        std::string names;
        for (const auto& [id, waiting] : waiting_) {
            if (!waiting.unattended) continue;
            const Conversation* conversation = list_.Find(id);
            if (conversation == nullptr) continue;
            if (!names.empty()) names += ", ";
            names += conversation->visitorName;
        }
        signals_.NotifySummary(WaitingSummary(count), NotificationBody(names));
        return;
    }
    if (summarised_ > 0) {
        summarised_ = 0;
        signals_.WithdrawSummary();
    }
    for (auto& [id, waiting] : waiting_) {
        if (!waiting.unattended) continue;
        const std::string body = BodyOf(waiting);
        if (waiting.notified == body && !waiting.renew) continue;
        const Conversation* conversation = list_.Find(id);
        signals_.NotifyConversation(id, CaptionOf(conversation ? conversation->visitorName : ""),
                                    body);
        waiting.notified = body;
        waiting.renew = false;
    }
}

void Attention::ShowWaiting(bool remind) {
    Notify();
    const int count = CountWaiting();
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
