#include "session/conversation_windows.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "protocol/transcript_rendering.h"
#include "session/window_cascade.h"

namespace tertulia {

void ConversationWindows::OpenNew(const NewsReply& news) {
    for (const NewsEntry& entry : news.entries) {
        if (BuscarItem(parts_.list, entry.idSesionClt) < 0) Open(entry.idSesionClt, entry.nombre);
    }
    if (news.stoppedAtBadId) throw std::runtime_error(InvalidIdMessage(news.badIdText));
}

void ConversationWindows::Open(std::int32_t id, const std::string& name) {
    ChatWindowParts made = parts_.factory.Create();
    auto ventana = std::make_unique<TfrmChatClt>(
        id, *this, std::move(made.view), std::move(made.timer), std::move(made.typingTimer));
    opening_ = Opening{ventana.get()};
    ++opened_;
    ventana->View().SetCaption(CaptionOf(name));
    ventana->View().SetReadyAnswers(readyAnswers_);
    ventana->View().ShowHandOnButton(handOn_);
    Place(ventana->View());
    TfrmChatClt* inUse = FocusedWindow();
    // Never activated: the operator's typing stays where it is until they turn to it; and never
    // over the window they type in, whose message line stays in sight.
    ventana->View().ShowInBackground();
    if (inUse != nullptr) inUse->View().Raise();
    try {
        parts_.announcer.ConversationOpened(id, name);
    } catch (const std::exception&) {
        // A missing sound never keeps a conversation from being opened.
    }
    std::exception_ptr firstPollFailure;
    try {
        ventana->Timer1Timer();
    } catch (const std::exception&) {
        firstPollFailure = std::current_exception();
    }
    const Opening opened = *std::exchange(opening_, std::nullopt);
    if (opened.closed) {
        // Closed from a box of its own first poll: it is never listed.
        DestroyLater(std::move(ventana));
    } else {
        parts_.list.Add(Conversation{id, name, std::move(ventana)});
        parts_.attention.Opened(id, opened.activated);
    }
    // Listed first, so that the window is never left without its row.
    if (firstPollFailure) std::rethrow_exception(firstPollFailure);
}

void ConversationWindows::Place(ChatView& view) {
    // The first window keeps its design place; each later one sits off the one before it.
    if (parts_.list.Items().empty()) lastPlaced_.reset();
    if (lastPlaced_) {
        const ScreenRect place = NextCascadePlace(*lastPlaced_, view.UsableArea());
        view.MoveFrame(place.left, place.top);
        lastPlaced_ = place;
    } else {
        lastPlaced_ = view.Frame();
    }
}

void ConversationWindows::ShowSelected() {
    if (const Conversation* selected = parts_.list.Selected()) selected->window->View().Show();
}

void ConversationWindows::Show(std::int32_t idSesionClt) {
    if (const Conversation* shown = parts_.list.Find(idSesionClt)) shown->window->View().Show();
}

void ConversationWindows::CloseAll() {
    for (const Conversation& each : parts_.list.Items()) parts_.attention.Forget(each.IdSesionClt);
    for (std::unique_ptr<TfrmChatClt>& window : parts_.list.RemoveAll()) {
        window->View().Hide();
        DestroyLater(std::move(window));
    }
    parts_.attention.ShowWaiting(false);
}

bool ConversationWindows::HasFocus(std::int32_t idSesionClt) const {
    const Conversation* conversation = parts_.list.Find(idSesionClt);
    if (conversation == nullptr) return false;
    ChatView& view = conversation->window->View();
    return view.IsVisible() && (view.TranscriptHasFocus() || view.MessageLineHasFocus());
}

void ConversationWindows::Poll(std::int32_t idSesionClt) {
    if (const Conversation* polled = parts_.list.Find(idSesionClt)) polled->window->Timer1Timer();
}

bool ConversationWindows::ShownWithoutFocus(std::int32_t idSesionClt) const {
    const Conversation* conversation = parts_.list.Find(idSesionClt);
    return conversation != nullptr && conversation->window->View().IsVisible() &&
           !HasFocus(idSesionClt);
}

void ConversationWindows::Refresh(std::int32_t idSesionClt) {
    if (const Conversation* shown = parts_.list.Find(idSesionClt)) shown->window->Refresh();
}

void ConversationWindows::VisitorTyping(std::int32_t idSesionClt) {
    const Conversation* typing = parts_.list.Find(idSesionClt);
    if (typing == nullptr) return;
    typing->window->VisitorTyping(typing->visitorName);
    parts_.list.SetTyping(idSesionClt, true);
}

void ConversationWindows::VisitorTypingEnded(TfrmChatClt& window) {
    parts_.list.SetTyping(window.IdSesionClt(), false);
}

void ConversationWindows::SetReadyAnswers(std::vector<ReadyAnswer> answers) {
    readyAnswers_ = std::move(answers);
    for (const Conversation& each : parts_.list.Items()) {
        each.window->View().SetReadyAnswers(readyAnswers_);
    }
}

void ConversationWindows::SetHandOnButton(HandOnButton state) {
    if (state == handOn_) return;
    handOn_ = state;
    for (const Conversation& each : parts_.list.Items()) {
        each.window->View().ShowHandOnButton(handOn_);
    }
}

TfrmChatClt* ConversationWindows::FocusedWindow() const {
    for (const Conversation& each : parts_.list.Items()) {
        if (HasFocus(each.IdSesionClt)) return each.window.get();
    }
    return nullptr;
}

std::string ConversationWindows::Request(const std::string& url) {
    ++requesting_;
    try {
        std::string reply = parts_.http.GetText(url);
        --requesting_;
        return reply;
    } catch (...) {
        --requesting_;
        throw;
    }
}

std::string ConversationWindows::Transcript(std::int32_t idSesionClt) {
    const ConsoleLogin& login = parts_.login;
    const bool focused = HasFocus(idSesionClt);
    std::string reply =
        Request(TranscriptUrl(serviceUrl_, login.CodigoEmpresa(), login.IdSesion(), idSesionClt));
    TranscriptRead(idSesionClt, focused, reply);
    return reply;
}

SentLine ConversationWindows::Send(std::int32_t idSesionClt, const std::string& mensaje) {
    const ConsoleLogin& login = parts_.login;
    const bool focused = HasFocus(idSesionClt);
    std::string reply = Request(
        SendLineUrl(serviceUrl_, login.CodigoEmpresa(), login.IdSesion(), idSesionClt, mensaje));
    TranscriptRead(idSesionClt, focused, reply);
    return {std::move(reply), !LineaNoGuardada(parts_.http.ReplyHeader(kCabeceraLinea))};
}

void ConversationWindows::TranscriptRead(std::int32_t idSesionClt, bool focused,
                                         const std::string& reply) {
    if (IsErrorReply(reply)) return;
    parts_.attention.TranscriptRead(idSesionClt, focused, reply);
}

std::string ConversationWindows::Close(std::int32_t idSesionClt) {
    const ConsoleLogin& login = parts_.login;
    return Request(
        CloseConversationUrl(serviceUrl_, login.CodigoEmpresa(), login.IdSesion(), idSesionClt));
}

std::string ConversationWindows::HandOn(std::int32_t idSesionClt) {
    const ConsoleLogin& login = parts_.login;
    return Request(HandOnUrl(serviceUrl_, login.CodigoEmpresa(), login.IdSesion(), idSesionClt));
}

void ConversationWindows::OperatorTyping(std::int32_t idSesionClt) {
    if (requesting_ > 0 || !parts_.mayTellTyping()) return;
    const auto now = parts_.now();
    const auto told = typingTold_.find(idSesionClt);
    if (told != typingTold_.end() && now - told->second < TypingInterval) return;
    typingTold_[idSesionClt] = now;
    const ConsoleLogin& login = parts_.login;
    try {
        // Whatever the reply, the operator goes on typing undisturbed.
        Request(TypingUrl(serviceUrl_, login.CodigoEmpresa(), login.IdSesion(), idSesionClt));
    } catch (const std::exception&) {
        // A lost service is found out and reported by the polls.
    }
}

void ConversationWindows::ConversationClosed(TfrmChatClt& window) {
    if (opening_ && opening_->window == &window) {
        opening_->closed = true;
        return;
    }
    if (parts_.list.Find(window) == nullptr) return;
    parts_.attention.Forget(window.IdSesionClt());
    typingTold_.erase(window.IdSesionClt());
    DestroyLater(parts_.list.Remove(window));
    parts_.attention.ShowWaiting(false);
}

bool ConversationWindows::ConversationActivated(TfrmChatClt& window) {
    if (opening_ && opening_->window == &window) {
        opening_->activated = true;
        return false;
    }
    if (parts_.list.Find(window) == nullptr) return false;
    return parts_.attention.Attended(window.IdSesionClt());
}

void ConversationWindows::DestroyLater(std::unique_ptr<TfrmChatClt> window) {
    const TfrmChatClt* doomed = window.get();
    closing_.push_back(std::move(window));
    parts_.loop.Post([this, doomed] {
        std::erase_if(closing_, [doomed](const auto& each) { return each.get() == doomed; });
    });
}

}  // namespace tertulia
