#pragma once

#include <string>

namespace tertulia {

class HttpClient;
class SaveDialog;
class TfrmChatClt;

// What a conversation window uses of the console that owns it; read afresh for every request.
class ChatConsole {
  public:
    virtual ~ChatConsole() = default;

    virtual const std::string& ServiceUrl() const = 0;
    virtual std::string CodigoEmpresa() const = 0;  // the text of edCodigoEmpresa now
    virtual std::string IdSesion() const = 0;
    virtual HttpClient& HTTP1() = 0;
    virtual SaveDialog& SaveDialog1() = 0;
    // The window's conversation has been closed on the service: its list row goes now, and the
    // window once its running handler has returned.
    virtual void ConversationClosed(TfrmChatClt& window) = 0;
    // The window got the keyboard focus: its conversation is attended now. True when it was
    // waiting for the operator, who should then see its transcript at once.
    virtual bool ConversationActivated(TfrmChatClt& window) = 0;
};

}  // namespace tertulia
