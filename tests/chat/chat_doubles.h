#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/timer.h"
#include "chat/chat_view.h"
#include "chat/conversation_requests.h"
#include "chat/message_encoding.h"
#include "chat/save_dialog.h"

namespace tertulia::testing {

// One log for all windows, so that tests can check the order of operations across them.
using EventLog = std::vector<std::string>;

// A modal box serves window messages while it is open: a test puts here what runs meanwhile.
struct DialogHook {
    std::function<void()> duringNext;
    void Run() {
        if (auto hook = std::exchange(duringNext, nullptr)) hook();
    }
};

class RecordingTimer : public Timer {
  public:
    void SetHandler(std::function<void()> handler) override { handler_ = std::move(handler); }
    void SetInterval(int milliseconds) override { interval = milliseconds; }
    void SetEnabled(bool enabled) override {
        if (enabled && !enabled_) ++starts;
        enabled_ = enabled;
    }
    bool Enabled() const override { return enabled_; }
    void Fire() {
        if (handler_) handler_();
    }
    bool HasHandler() const { return static_cast<bool>(handler_); }

    int interval = 0;
    int starts = 0;  // how many times a full new interval began

  private:
    std::function<void()> handler_;
    bool enabled_ = false;
};

// Makes RecordingTimers and keeps sight of them, in the order they were made.
class RecordingTimers : public TimerFactory {
  public:
    std::unique_ptr<Timer> Create() override {
        auto timer = std::make_unique<RecordingTimer>();
        made.push_back(timer.get());
        return timer;
    }
    RecordingTimer& Made(std::size_t index) const { return *made.at(index); }

    std::vector<RecordingTimer*> made;  // they live as long as the unit that asked for them
};

class RecordingChatView : public ChatView {
  public:
    // `pollTimer` is the window's own timer, made with the view.
    RecordingChatView(EventLog& log, std::vector<RecordingChatView*>& registry,
                      RecordingTimer& pollTimer)
        : timer(pollTimer), log_(log), registry_(registry) {
        registry_.push_back(this);
    }
    ~RecordingChatView() override {
        log_.push_back("chat destroyed " + caption);
        std::erase(registry_, this);
    }

    void SetHandlers(ChatHandlers* newHandlers) override { handlers = newHandlers; }
    void SetCaption(const std::string& text) override { caption = text; }
    std::string TranscriptText() const override { return transcript; }
    void SetTranscriptText(const std::string& text) override {
        transcript = text;
        ++transcriptReplacements;
    }
    std::string MessageText() const override { return message; }
    void SetMessageText(const std::string& text) override {
        message = text;
        messageHistory.push_back(text);
    }
    void ShowNotSent(const std::string& dropped) override {
        notSent.push_back(dropped);
        status = dropped.empty() ? "" : std::string(kAvisoNoEnviados) + NombresNoEnviados(dropped);
    }
    void FocusMessageLine() override {
        messageFocus = true;
        transcriptFocus = false;
    }
    int MessageLineLeft() const override { return messageLeft; }
    int MessageLineWidth() const override { return messageWidth; }
    void SetMessageLineWidth(int width) override { messageWidth = width; }
    void SetStatusText(const std::string& text) override { status = text; }
    void SetSendButtonLeft(int sendLeft) override { sendButtonLeft = sendLeft; }
    bool IsVisible() const override { return visible; }
    int OuterWidth() const override { return outerWidth; }
    void Show() override {
        log_.push_back("chat show " + caption);
        visible = true;
        if (handlers) handlers->FormShow();
    }
    // The window is not active: its message line has only the window's focus, for later.
    void ShowInBackground() override {
        log_.push_back("chat show in background " + caption);
        visible = true;
        if (handlers) handlers->FormShow();
        messageFocusForLater = messageFocus;
        if (!windowManagerActivates) messageFocus = transcriptFocus = false;
    }
    void Hide() override { visible = false; }
    void Raise() override { log_.push_back("chat raise " + caption); }
    ScreenRect Frame() const override { return frame; }
    void MoveFrame(int frameLeft, int frameTop) override {
        frame.left = frameLeft;
        frame.top = frameTop;
    }
    ScreenRect UsableArea() const override { return usableArea; }
    bool TranscriptHasFocus() const override { return transcriptFocus; }
    bool MessageLineHasFocus() const override { return messageFocus; }
    void ShowError(const std::string& text) override {
        log_.push_back("chat error " + text);
        errors.push_back(text);
        dialog.Run();
    }
    bool Confirm(const std::string& text) override {
        log_.push_back("chat confirm " + text);
        dialog.Run();
        return confirmAnswer;
    }
    void ShowHandOnButton(HandOnButton state) override { handOn = state; }
    void SetReadyAnswers(const std::vector<ReadyAnswer>& answers) override {
        readyAnswers = answers;
    }
    // The keyboard focus comes into the message line, as when the operator clicks there.
    void TakeFocus() {
        messageFocus = true;
        if (handlers) handlers->FormActivate();
    }
    // Takes the keyboard focus away from this window, as when another window is active.
    void LoseFocus() {
        messageFocus = false;
        transcriptFocus = false;
    }

    ChatHandlers* handlers = nullptr;
    std::string caption = "Chat";
    std::string transcript;
    int transcriptReplacements = 0;
    std::string message;
    std::vector<std::string> messageHistory;
    std::string status;
    std::vector<std::string> notSent;  // what each send said was left out
    int messageLeft = 48, messageWidth = 286, outerWidth = 411, sendButtonLeft = 336;
    bool visible = false;
    bool transcriptFocus = false, messageFocus = false;
    bool messageFocusForLater = false;  // shown in the background with the focus in place
    // A window manager that activates every new window, whatever the program asked.
    bool windowManagerActivates = false;
    ScreenRect frame{398, 206, 411, 270};
    ScreenRect usableArea{0, 0, 1280, 1000};
    std::vector<std::string> errors;
    bool confirmAnswer = false;
    DialogHook dialog;
    HandOnButton handOn = HandOnButton::Hidden;
    std::vector<ReadyAnswer> readyAnswers;
    RecordingTimer& timer;
    RecordingTimer* typingTimer = nullptr;  // the one that ends the news of the visitor's typing

  private:
    EventLog& log_;
    std::vector<RecordingChatView*>& registry_;
};

class ScriptedSaveDialog : public SaveDialog {
  public:
    std::optional<std::string> Execute() override {
        ++runs;
        return answer;
    }
    std::optional<std::string> answer;
    int runs = 0;
};

// The console as a conversation window sees it: the requests it was asked for, answered from a
// queue of replies ("!" followed by a message: the request fails with that message), and the
// moments it was told of.
class FakeRequests : public ConversationRequests {
  public:
    std::string Transcript(std::int32_t id) override {
        return Answer("getchat " + std::to_string(id));
    }
    SentLine Send(std::int32_t id, const std::string& mensaje) override {
        std::string reply = Answer("send " + std::to_string(id) + " " + mensaje);
        return {std::move(reply), !std::exchange(nextLineNotStored, false)};
    }
    std::string Close(std::int32_t id) override { return Answer("dropclt " + std::to_string(id)); }
    std::string HandOn(std::int32_t id) override { return Answer("ceder " + std::to_string(id)); }
    void OperatorTyping(std::int32_t id) override {
        calls.push_back("escribiendo " + std::to_string(id));
    }
    SaveDialog& SaveDialog1() override { return saveDialog; }
    void ConversationClosed(TfrmChatClt&) override { calls.push_back("closed"); }
    bool ConversationActivated(TfrmChatClt&) override {
        calls.push_back("activated");
        return waiting;
    }
    void VisitorTypingEnded(TfrmChatClt&) override { calls.push_back("typing ended"); }

    std::deque<std::string> replies;
    std::vector<std::string> calls;
    ScriptedSaveDialog saveDialog;
    bool waiting = false;            // what ConversationActivated answers
    bool nextLineNotStored = false;  // the next send's reply says its line was not stored

  private:
    std::string Answer(std::string call) {
        calls.push_back(std::move(call));
        if (replies.empty()) throw std::runtime_error("no reply queued");
        std::string reply = std::move(replies.front());
        replies.pop_front();
        if (reply.starts_with("!")) throw std::runtime_error(reply.substr(1));
        return reply;
    }
};

}  // namespace tertulia::testing
