#pragma once

#include <string>

#include "session/conversation_list.h"

namespace tertulia {

class ConsoleView;
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
    // The items of ListBoxWImg1, whose texts the console's view shows.
    virtual ConversationList& ListBoxWImg1() = 0;
    virtual ConsoleView& View() = 0;
    // Frees the window now; a window asks for this through a posted message, so that it is
    // destroyed after its running handler has returned. The pointer is only compared, never
    // followed, so a window that is already gone is simply ignored.
    virtual void DestroyChatWindow(const TfrmChatClt* window) = 0;
};

}  // namespace tertulia
