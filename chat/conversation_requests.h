#pragma once

#include <cstdint>
#include <string>

namespace tertulia {

class SaveDialog;
class TfrmChatClt;

// The reply to a send request, and whether the service said that it did not store the line.
struct SentLine {
    std::string reply;
    bool stored = true;
};

// What a conversation window asks of the console that owns it: the service's requests for its
// conversation, made with the console's login as it is at that moment; the shared save dialog;
// and the moments the console must know of. A request that fails throws.
class ConversationRequests {
  public:
    virtual ~ConversationRequests() = default;

    // The service's reply to the transcript request of conversation `idSesionClt`.
    virtual std::string Transcript(std::int32_t idSesionClt) = 0;
    // The reply to the transcript request that carries a line, `mensaje`, already encoded.
    virtual SentLine Send(std::int32_t idSesionClt, const std::string& mensaje) = 0;
    // The reply to the close request.
    virtual std::string Close(std::int32_t idSesionClt) = 0;
    // The reply to the request that hands the conversation to another console.
    virtual std::string HandOn(std::int32_t idSesionClt) = 0;
    // The operator typed in the window's message line: the service may tell the visitor. Never
    // fails; the console decides whether and when the service hears of it.
    virtual void OperatorTyping(std::int32_t idSesionClt) = 0;

    virtual SaveDialog& SaveDialog1() = 0;

    // The window's conversation has been closed on the service: its list row goes now, and the
    // window once its running handler has returned.
    virtual void ConversationClosed(TfrmChatClt& window) = 0;
    // The window got the keyboard focus: its conversation is attended now. True when it was
    // waiting for the operator, who should then see its transcript at once.
    virtual bool ConversationActivated(TfrmChatClt& window) = 0;
    // The window no longer says that its visitor is typing.
    virtual void VisitorTypingEnded(TfrmChatClt& window) = 0;
};

}  // namespace tertulia
