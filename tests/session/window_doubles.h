#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chat/chat_view.h"
#include "chat/chat_window_factory.h"
#include "session/attention_signals.h"
#include "session/console_view.h"
#include "session/conversation_announcer.h"
#include "session/conversation_rows.h"
#include "session/dialogs.h"
#include "session/event_loop.h"
#include "session/save_dialog.h"
#include "session/settings_store.h"
#include "widgets/timer.h"

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

class RecordingChatView;

// The console window with the desktop around it: its dialogs, its list rows, the conversation
// windows it makes, the announcer and the event loop, all recorded in one log.
class RecordingConsoleView : public ConsoleView,
                             public Dialogs,
                             public ConversationRows,
                             public ChatWindowFactory,
                             public ConversationAnnouncer,
                             public AttentionSignals,
                             public EventLoop {
  public:
    explicit RecordingConsoleView(EventLog& log) : log_(log) {}

    void SetHandlers(ConsoleHandlers* newHandlers) override { handlers = newHandlers; }
    void ShowPanel(Panel shown) override {
        panel = shown;
        log_.push_back(std::string("panel ") + PanelName(shown));
    }
    std::string CompanyCode() const override { return companyCode; }
    void SetCompanyCode(const std::string& text) override { companyCode = text; }
    std::string Password() const override { return password; }
    void SetStatusText(const std::string& text) override {
        status = text;
        statusHistory.push_back(text);
        if (onStatus) onStatus();
    }
    void SetGauge(std::int32_t max, std::int32_t progress) override {
        gaugeMax = max;
        gaugeProgress = progress;
    }
    void ShowError(const std::string& text) override {
        log_.push_back("error " + text);
        errors.push_back(text);
        dialog.Run();
    }
    void CloseErrors() override {
        log_.push_back("errors closed");
        ++errorsClosed;
    }
    bool Confirm(const std::string& text) override {
        log_.push_back("confirm " + text);
        dialog.Run();
        return confirmAnswer;
    }
    void ShowWarning(const std::string& caption, const std::string& text) override {
        log_.push_back("warning " + caption + ": " + text);
    }
    void ShowWindow() override { windowVisible = true; }
    void HideWindow() override { windowVisible = false; }
    int ScreenWidth() const override { return 1920; }
    int WindowWidth() const override { return 192; }
    void MoveWindow(int newLeft, int newTop) override {
        left = newLeft;
        top = newTop;
        ++moves;
    }
    void RepaintAndProcessMessages() override { log_.push_back("repaint"); }
    void Post(std::function<void()> message) override { posted.push_back(std::move(message)); }
    ChatWindowParts Create() override;
    void AddRow(const std::string& text) override {
        log_.push_back("list add " + text);
        listItems.push_back(text);
    }
    void RemoveRow(int index) override {
        log_.push_back("list remove " + listItems.at(static_cast<std::size_t>(index)));
        listItems.erase(listItems.begin() + index);
        if (static_cast<std::size_t>(index) < markedRows.size()) {
            markedRows.erase(markedRows.begin() + index);
        }
    }
    int SelectedRow() const override { return selected; }
    void SetRowMarked(int index, bool marked) override {
        signalLog.push_back(std::string(marked ? "mark " : "unmark ") +
                            listItems.at(static_cast<std::size_t>(index)));
        markedRows.resize(listItems.size());
        markedRows[static_cast<std::size_t>(index)] = marked;
    }
    bool RowMarked(std::size_t index) const {
        return index < markedRows.size() && markedRows[index];
    }
    void NotifyConversation(std::int32_t id, const std::string& summary,
                            const std::string&) override {
        signalLog.push_back("notify " + std::to_string(id) + " " + summary);
        notifications[id] = summary;
    }
    void WithdrawConversation(std::int32_t id) override {
        signalLog.push_back("withdraw " + std::to_string(id));
        notifications.erase(id);
    }
    void ShowWaiting(int count, const std::string& tip) override {
        waiting = count;
        trayTip = tip;
    }
    void ShowDisconnected(bool shown, const std::string& tip) override {
        signalLog.push_back(shown ? "disconnected icon" : "connected icon");
        disconnectedIcon = shown;
        disconnectedTip = tip;
    }
    void NotifyDisconnected(const std::string& summary, const std::string& body) override {
        signalLog.push_back("notify disconnected " + summary);
        disconnectedNotice = body;
    }
    void WithdrawDisconnected() override {
        signalLog.push_back("withdraw disconnected");
        disconnectedNotice.reset();
    }
    void NotifyReconnected(const std::string& summary, const std::string& body) override {
        signalLog.push_back("notify reconnected " + summary + ": " + body);
    }
    void LoadSound(const std::string& fileName) override { loadedSound = fileName; }
    // The sound, played twice.
    void ConversationOpened(std::int32_t, const std::string&) override {
        PlaySound();
        PlaySound();
    }
    void Remind() override {
        signalLog.push_back("reminder");
        if (!soundWorks) throw std::runtime_error("No wave loaded");
        ++reminders;
    }
    void ReportApplicationError(const std::string& text) override {
        applicationErrors.push_back(text);
    }
    void Quit() override { ++quits; }

    // Runs the posted messages, as the message loop does once the running handler returned.
    void RunPosted() {
        while (!posted.empty()) {
            auto message = std::move(posted.front());
            posted.pop_front();
            message();
        }
    }
    static const char* PanelName(Panel shown);

    ConsoleHandlers* handlers = nullptr;
    std::optional<Panel> panel;
    std::string companyCode;
    std::string password;
    std::string status;
    std::vector<std::string> statusHistory;
    std::function<void()> onStatus;  // runs whenever the status line changes
    std::int32_t gaugeMax = 1000;
    std::int32_t gaugeProgress = 0;
    std::vector<std::string> errors;
    int errorsClosed = 0;
    bool confirmAnswer = true;
    DialogHook dialog;
    bool windowVisible = false;
    int left = -1, top = -1, moves = 0;
    std::deque<std::function<void()>> posted;
    std::vector<std::string> listItems;
    int selected = -1;
    std::string loadedSound;
    bool soundWorks = true;  // false: playing fails as with no sound loaded or no device
    int plays = 0;
    std::vector<std::string> applicationErrors;
    int quits = 0;
    // The signals of waiting conversations and of the connection, apart from `log`.
    EventLog signalLog;
    int reminders = 0;
    std::vector<bool> markedRows;                       // by row, as the list box shows them
    std::map<std::int32_t, std::string> notifications;  // out now, by conversation id
    int waiting = 0;
    std::string trayTip;
    bool disconnectedIcon = false;
    std::string disconnectedTip;
    std::optional<std::string> disconnectedNotice;
    std::vector<RecordingChatView*> chats;  // the conversation windows alive, in creation order
    std::function<void(RecordingChatView&)> onChatCreated;
    bool windowManagerActivates = false;  // given to every new conversation window

  private:
    void PlaySound();

    EventLog& log_;
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
    void FocusMessageLine() override {
        messageFocus = true;
        transcriptFocus = false;
    }
    int MessageLineLeft() const override { return messageLeft; }
    int MessageLineWidth() const override { return messageWidth; }
    void SetMessageLineWidth(int width) override { messageWidth = width; }
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
    RecordingTimer& timer;

  private:
    EventLog& log_;
    std::vector<RecordingChatView*>& registry_;
};

inline ChatWindowParts RecordingConsoleView::Create() {
    auto timer = std::make_unique<RecordingTimer>();
    auto chat = std::make_unique<RecordingChatView>(log_, chats, *timer);
    chat->windowManagerActivates = windowManagerActivates;
    if (onChatCreated) onChatCreated(*chat);
    return {std::move(chat), std::move(timer)};
}

inline void RecordingConsoleView::PlaySound() {
    log_.push_back("sound");
    if (!soundWorks) throw std::runtime_error("No wave loaded");
    ++plays;
}

inline const char* RecordingConsoleView::PanelName(Panel shown) {
    switch (shown) {
        case Panel::pnTransfer:
            return "pnTransfer";
        case Panel::pnLogin:
            return "pnLogin";
        case Panel::pnChat:
            return "pnChat";
    }
    return "?";
}

class MemorySettings : public SettingsStore {
  public:
    explicit MemorySettings(std::map<std::string, std::string>& values) : values_(values) {}
    std::optional<std::string> Read(const std::string& section, const std::string& name) override {
        const auto found = values_.find(section + "/" + name);
        if (found == values_.end()) return std::nullopt;
        return found->second;
    }
    void Write(const std::string& section, const std::string& name,
               const std::string& value) override {
        values_[section + "/" + name] = value;
    }

  private:
    std::map<std::string, std::string>& values_;
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

}  // namespace tertulia::testing
