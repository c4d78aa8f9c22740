#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/timer.h"
#include "chat/chat_view.h"

namespace tertulia {

class ConversationRequests;

// The logic of a conversation window: polls its conversation's transcript, sends the operator's
// lines and, on request, saves the transcript and closes the conversation or hands it to another
// console. Its status line says for a while that the visitor is typing.
// Failures of its requests are not caught: they leave the handler that raised them.
class TfrmChatClt : public ChatHandlers {
  public:
    static constexpr int PollInterval = 15000;
    // How long the news that the visitor is typing lasts unless renewed.
    static constexpr int TypingShownFor = 5000;

    // Takes the new, hidden window and its poll timer, which runs from now on, and the timer
    // that ends the news of the visitor's typing.
    TfrmChatClt(std::int32_t idSesionClt, ConversationRequests& console,
                std::unique_ptr<ChatView> view, std::unique_ptr<Timer> timer,
                std::unique_ptr<Timer> typingTimer);
    ~TfrmChatClt() override;
    TfrmChatClt(const TfrmChatClt&) = delete;
    TfrmChatClt& operator=(const TfrmChatClt&) = delete;

    ChatView& View() { return *view_; }
    std::int32_t IdSesionClt() const { return idSesionClt_; }

    void FormShow() override;
    void FormResize() override;
    void FormCloseQuery() override;
    void FormActivate() override;
    void Timer1Timer() override;
    void edMensajeKeyPress(char key) override;
    void sbEnviarClick() override;
    void sbCerraryBorrarClick() override;
    void sbPasarClick() override;

    // The service says that the visitor, called `visitorName` here, is typing: the status line
    // says so for TypingShownFor, or until the transcript changes.
    void VisitorTyping(const std::string& visitorName);
    bool ShowsVisitorTyping() const { return typingShown_; }

    // Brings the transcript of a window shown without the keyboard focus up to date, without a
    // word to the operator: a failed request or an "ERROR" reply leaves the transcript as it
    // was, for the window's own poll to report once the operator works in it.
    void Refresh();

    // Shows a transcript or send reply: an "ERROR" reply in the error box, anything else as the
    // transcript.
    void MostrarRespuesta(const std::string& reply);

    std::int32_t MargenDerecho = 0;

  private:
    // The status line no longer says that the visitor is typing.
    void EndVisitorTyping();

    const std::int32_t idSesionClt_;
    ConversationRequests& console_;
    std::unique_ptr<ChatView> view_;
    std::unique_ptr<Timer> Timer1_;
    std::unique_ptr<Timer> typingTimer_;
    bool typingShown_ = false;
};

// What the status line says while the visitor is typing: "NAME está escribiendo…".
std::string VisitorTypingText(const std::string& visitorName);

// The message line's text without its leading and trailing characters of code 32 or less.
std::string TrimMessage(const std::string& text);

}  // namespace tertulia
