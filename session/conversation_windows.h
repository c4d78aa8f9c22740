#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/event_loop.h"
#include "chat/chat_window_factory.h"
#include "chat/conversation_requests.h"
#include "chat/save_dialog.h"
#include "http/http_client.h"
#include "protocol/service_protocol.h"
#include "session/attention.h"
#include "session/console_login.h"
#include "session/conversation_announcer.h"
#include "session/conversation_list.h"

namespace tertulia {

// The console's conversation windows: one opened for each new conversation of a news reply,
// shown on request, closed with their conversation or all at once; and the requests the windows
// make, with the console's login as it is at that moment. Handlers that run while a window's
// first poll shows a box (window messages are served then) may close or activate it; the window
// is listed all the same, or never.
class ConversationWindows : public ConversationRequests {
  public:
    struct Parts {
        ConversationList& list;  // ListBoxWImg1's conversations
        ChatWindowFactory& factory;
        ConversationAnnouncer& announcer;
        Attention& attention;
        EventLoop& loop;
        SaveDialog& saveDialog;  // SaveDialog1
        HttpClient& http;        // HTTP1
        const ConsoleLogin& login;
    };

    ConversationWindows(Parts parts, std::string serviceUrl)
        : parts_(parts), serviceUrl_(std::move(serviceUrl)) {}
    ConversationWindows(const ConversationWindows&) = delete;
    ConversationWindows& operator=(const ConversationWindows&) = delete;

    // Opens a window for each conversation of `news` that is not listed, in reply order. A bad id
    // stops the reading there, after what came before it, and throws.
    void OpenNew(const NewsReply& news);
    // How many windows have been opened so far.
    int OpenedSoFar() const { return opened_; }
    // Shows the window of the selected row, or of the conversation with this id, if listed.
    void ShowSelected();
    void Show(std::int32_t idSesionClt);
    // Closes every window here, leaving their conversations open on the service.
    void CloseAll();
    // Whether the conversation's window has the keyboard focus now.
    bool HasFocus(std::int32_t idSesionClt) const;
    // Runs the poll of the conversation's window, if listed, as its timer does.
    void Poll(std::int32_t idSesionClt);
    // Whether the conversation's window is shown without the keyboard focus.
    bool ShownWithoutFocus(std::int32_t idSesionClt) const;
    // Brings the transcript of the conversation's window up to date, if listed and shown.
    void Refresh(std::int32_t idSesionClt);

    std::string Transcript(std::int32_t idSesionClt) override;
    SentLine Send(std::int32_t idSesionClt, const std::string& mensaje) override;
    std::string Close(std::int32_t idSesionClt) override;
    SaveDialog& SaveDialog1() override { return parts_.saveDialog; }
    void ConversationClosed(TfrmChatClt& window) override;
    bool ConversationActivated(TfrmChatClt& window) override;

  private:
    // The window being opened, held by Open until it is listed, and what befell it meanwhile.
    struct Opening {
        const TfrmChatClt* window;
        bool closed = false;
        bool activated = false;
    };

    void Open(std::int32_t id, const std::string& name);
    void Place(ChatView& view);
    // The listed window that has the keyboard focus, if any.
    TfrmChatClt* FocusedWindow() const;
    // Tells the signals what the window's transcript reply shows.
    void TranscriptRead(std::int32_t idSesionClt, bool focused, const std::string& reply);
    // The window goes once the running handler has returned, or with the console.
    void DestroyLater(std::unique_ptr<TfrmChatClt> window);

    Parts parts_;
    const std::string serviceUrl_;
    std::optional<Opening> opening_;
    std::vector<std::unique_ptr<TfrmChatClt>> closing_;  // closed, destroyed once posted
    std::optional<ScreenRect> lastPlaced_;               // the frame of the last window opened
    int opened_ = 0;
};

}  // namespace tertulia
