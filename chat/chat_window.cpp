#include "chat/chat_window.h"

#include <exception>
#include <utility>

#include "chat/conversation_requests.h"
#include "chat/line_not_stored.h"
#include "chat/message_encoding.h"
#include "chat/save_dialog.h"
#include "chat/transcript_file.h"
#include "chat/transcript_update.h"
#include "protocol/service_protocol.h"
#include "protocol/transcript_rendering.h"

namespace tertulia {

std::string TrimMessage(const std::string& text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string VisitorTypingText(const std::string& visitorName) {
    return visitorName + " est\xE1 escribiendo\x85";
}

TfrmChatClt::TfrmChatClt(std::int32_t idSesionClt, ConversationRequests& console,
                         std::unique_ptr<ChatView> view, std::unique_ptr<Timer> timer,
                         std::unique_ptr<Timer> typingTimer)
    : idSesionClt_(idSesionClt),
      console_(console),
      view_(std::move(view)),
      Timer1_(std::move(timer)),
      typingTimer_(std::move(typingTimer)) {
    view_->SetHandlers(this);
    Timer1_->SetHandler([this] { Timer1Timer(); });
    Timer1_->SetInterval(PollInterval);
    Timer1_->SetEnabled(true);
    typingTimer_->SetInterval(TypingShownFor);
    typingTimer_->SetHandler([this] { EndVisitorTyping(); });
}

TfrmChatClt::~TfrmChatClt() {
    Timer1_->SetEnabled(false);
    Timer1_->SetHandler(nullptr);
    typingTimer_->SetEnabled(false);
    typingTimer_->SetHandler(nullptr);
    view_->SetHandlers(nullptr);
}

void TfrmChatClt::FormShow() {
    view_->FocusMessageLine();
    MargenDerecho = view_->OuterWidth() - (view_->MessageLineLeft() + view_->MessageLineWidth());
}

void TfrmChatClt::FormResize() {
    view_->SetMessageLineWidth(view_->OuterWidth() - view_->MessageLineLeft() - MargenDerecho);
    view_->SetSendButtonLeft(view_->MessageLineLeft() + view_->MessageLineWidth() + 2);
}

void TfrmChatClt::FormCloseQuery() {
    view_->Hide();
}

void TfrmChatClt::FormActivate() {
    if (console_.ConversationActivated(*this)) Timer1Timer();
}

void TfrmChatClt::Timer1Timer() {
    if (!view_->IsVisible()) return;
    if (!view_->TranscriptHasFocus() && !view_->MessageLineHasFocus()) return;
    MostrarRespuesta(console_.Transcript(idSesionClt_));
}

void TfrmChatClt::Refresh() {
    if (!view_->IsVisible()) return;
    std::string reply;
    try {
        reply = console_.Transcript(idSesionClt_);
    } catch (const std::exception&) {
        return;
    }
    if (!IsErrorReply(reply)) MostrarRespuesta(reply);
}

void TfrmChatClt::edMensajeKeyPress(char key) {
    if (Timer1_->Enabled()) {
        Timer1_->SetEnabled(false);
        Timer1_->SetEnabled(true);
    }
    if (key == '\r') {
        sbEnviarClick();
    } else {
        console_.OperatorTyping(idSesionClt_);
    }
}

void TfrmChatClt::sbEnviarClick() {
    const std::string text = TrimMessage(view_->MessageText());
    // The status line is about the line sent from here on.
    if (!text.empty()) EndVisitorTyping();
    // Told before the line is written back, while the message line still holds what Windows-1252
    // cannot.
    if (!text.empty()) view_->ShowNotSent(CaracteresNoEnviados(text));
    view_->SetMessageText(text);
    if (!text.empty()) {
        const SentLine sent = console_.Send(idSesionClt_, CodificarMensaje(text));
        MostrarRespuesta(sent.reply);
        // A line the service did not store stays, for the operator to send again or elsewhere.
        if (!sent.stored) {
            view_->SetStatusText(MotivoLineaNoGuardada(sent.reply));
            return;
        }
    }
    view_->SetMessageText("");
}

void TfrmChatClt::sbCerraryBorrarClick() {
    if (view_->Confirm("Desea Guardar una Copia de la Conversacion en un Archivo?")) {
        if (const auto fileName = console_.SaveDialog1().Execute()) {
            WriteTranscriptFile(*fileName, view_->TranscriptText());
        }
    }
    const std::string reply = console_.Close(idSesionClt_);
    if (!ReadCloseReply(reply).ok) {
        view_->ShowError(reply);
        return;
    }
    console_.ConversationClosed(*this);
}

void TfrmChatClt::sbPasarClick() {
    if (!view_->Confirm("\xBFPasar esta conversaci\xF3n a otra consola?")) return;
    const std::string reply = console_.HandOn(idSesionClt_);
    if (!EmpiezaCon(reply, "OK")) {
        view_->ShowError(reply);
        return;
    }
    // Handed on: neither saved nor closed here, the conversation goes on in another console.
    view_->Hide();
    console_.ConversationClosed(*this);
}

void TfrmChatClt::VisitorTyping(const std::string& visitorName) {
    typingShown_ = true;
    view_->SetStatusText(VisitorTypingText(visitorName));
    // A full new interval, also when it ran.
    typingTimer_->SetEnabled(false);
    typingTimer_->SetEnabled(true);
}

void TfrmChatClt::EndVisitorTyping() {
    typingTimer_->SetEnabled(false);
    if (!std::exchange(typingShown_, false)) return;
    view_->SetStatusText("");
    console_.VisitorTypingEnded(*this);
}

void TfrmChatClt::MostrarRespuesta(const std::string& reply) {
    const TranscriptUpdate update = DecideTranscriptUpdate(reply, view_->TranscriptText());
    switch (update.kind) {
        case TranscriptUpdate::Kind::ShowError:
            view_->ShowError(update.text);
            break;
        case TranscriptUpdate::Kind::Replace:
            view_->SetTranscriptText(update.text);
            // The line the visitor was typing has arrived.
            EndVisitorTyping();
            break;
        case TranscriptUpdate::Kind::LeaveUntouched:
            break;
    }
}

}  // namespace tertulia
