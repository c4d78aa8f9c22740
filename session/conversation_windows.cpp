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
    auto ventana =
        std::make_unique<TfrmChatClt>(id, *this, std::move(made.view), std::move(made.timer));
    opening_ = Opening{ventana.get()};
    ++opened_;
    ventana->View().SetCaption(CaptionOf(name));
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

TfrmChatClt* ConversationWindows::FocusedWindow() const {
    for (const Conversation& each : parts_.list.Items()) {
        if (HasFocus(each.IdSesionClt)) return each.window.get();
    }
    return nullptr;
}

std::string ConversationWindows::Transcript(std::int32_t idSesionClt) {
    const ConsoleLogin& login = parts_.login;
    const bool focused = HasFocus(idSesionClt);
    std::string reply = parts_.http.GetText(
        TranscriptUrl(serviceUrl_, login.CodigoEmpresa(), login.IdSesion(), idSesionClt));
    TranscriptRead(idSesionClt, focused, reply);
    return reply;
}

SentLine ConversationWindows::Send(std::int32_t idSesionClt, const std::string& mensaje) {
    const ConsoleLogin& login = parts_.login;
    const bool focused = HasFocus(idSesionClt);
    std::string reply = parts_.http.GetText(
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
    return parts_.http.GetText(
        CloseConversationUrl(serviceUrl_, login.CodigoEmpresa(), login.IdSesion(), idSesionClt));
}

void ConversationWindows::ConversationClosed(TfrmChatClt& window) {
    if (opening_ && opening_->window == &window) {
        opening_->closed = true;
        return;
    }
    if (parts_.list.Find(window) == nullptr) return;
    parts_.attention.Forget(window.IdSesionClt());
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
