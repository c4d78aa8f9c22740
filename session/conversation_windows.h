#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/event_loop.h"
#include "chat/chat_window_factory.h"
#include "chat/conversation_requests.h"
#include "chat/save_dialog.h"
#include "http/http_client.h"
#include "protocol/ready_answers.h"
#include "protocol/service_protocol.h"
#include "session/attention.h"
#include "session/console_login.h"
#include "session/conversation_announcer.h"
#include "session/conversation_list.h"

namespace tertulia {

// The console's conversation windows: one opened for each new conversation of a news reply,
// shown on request, closed with their conversation (or handed on) or all at once; and the
// requests the windows make, with the console's login as it is at that moment. What the service
// says for all of them (the company's ready answers, whether a conversation can be handed on)
// each window shows, also one opened later. Handlers that run while a window's
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
        std::function<std::chrono::steady_clock::time_point()> now;
        // Whether the service may be told now that the operator types: it answered the
        // operator's event stream (an older one does not know the news), and no request of the
        // console is in progress.
        std::function<bool()> mayTellTyping;
    };

    // The service hears that the operator types in a conversation at most this often.
    static constexpr std::chrono::milliseconds TypingInterval{2000};

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
    // The visitor of the conversation, if listed, is typing: its window and row say so.
    void VisitorTyping(std::int32_t idSesionClt);
    // The company's ready answers, for every window.
    void SetReadyAnswers(std::vector<ReadyAnswer> answers);
    // The "Pasar" button of every window.
    void SetHandOnButton(HandOnButton state);

    std::string Transcript(std::int32_t idSesionClt) override;
    SentLine Send(std::int32_t idSesionClt, const std::string& mensaje) override;
    std::string Close(std::int32_t idSesionClt) override;
    std::string HandOn(std::int32_t idSesionClt) override;
    void OperatorTyping(std::int32_t idSesionClt) override;
    SaveDialog& SaveDialog1() override { return parts_.saveDialog; }
    void ConversationClosed(TfrmChatClt& window) override;
    bool ConversationActivated(TfrmChatClt& window) override;
    void VisitorTypingEnded(TfrmChatClt& window) override;

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
    // The reply to a request of a conversation window, made with the console's login.
    std::string Request(const std::string& url);

    Parts parts_;
    const std::string serviceUrl_;
    std::optional<Opening> opening_;
    std::vector<std::unique_ptr<TfrmChatClt>> closing_;  // closed, destroyed once posted
    std::optional<ScreenRect> lastPlaced_;               // the frame of the last window opened
    int opened_ = 0;
    int requesting_ = 0;  // requests of the windows in progress
    std::vector<ReadyAnswer> readyAnswers_;
    HandOnButton handOn_ = HandOnButton::Hidden;
    // When the service last heard that the operator types, by conversation.
    std::map<std::int32_t, std::chrono::steady_clock::time_point> typingTold_;
};

}  // namespace tertulia
