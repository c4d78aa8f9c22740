#pragma once

#include <poll.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/event_loop.h"
#include "base/readable_watch.h"
#include "chat/chat_window_factory.h"
#include "session/attention_signals.h"
#include "session/console_view.h"
#include "session/conversation_announcer.h"
#include "session/conversation_rows.h"
#include "session/dialogs.h"
#include "session/settings_store.h"
#include "tests/chat/chat_doubles.h"

namespace tertulia::testing {

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
    void RepaintAndProcessMessages() override {
        log_.push_back("repaint");
        if (auto hook = std::exchange(duringNextRepaint, nullptr)) hook();
    }
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
    void SetRowTyping(int index, bool typing) override {
        signalLog.push_back(std::string(typing ? "typing " : "not typing ") +
                            listItems.at(static_cast<std::size_t>(index)));
    }
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
                            const std::string& body) override {
        signalLog.push_back("notify " + std::to_string(id) + " " + summary);
        notifications[id] = summary;
        notificationBodies[id] = body;
        mostNotificationsOut = std::max(mostNotificationsOut, NotificationsOut());
    }
    void WithdrawConversation(std::int32_t id) override {
        signalLog.push_back("withdraw " + std::to_string(id));
        notifications.erase(id);
    }
    void NotifySummary(const std::string& summary, const std::string& body) override {
        signalLog.push_back("notify summary " + summary);
        summaryNotice = summary + ": " + body;
        mostNotificationsOut = std::max(mostNotificationsOut, NotificationsOut());
    }
    void WithdrawSummary() override {
        signalLog.push_back("withdraw summary");
        summaryNotice.reset();
    }
    int NotificationsOut() const {
        return static_cast<int>(notifications.size()) + (summaryNotice ? 1 : 0);
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
    std::function<void()> duringNextRepaint;  // the messages that the next repaint serves
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
    std::vector<bool> markedRows;                            // by row, as the list box shows them
    std::map<std::int32_t, std::string> notifications;       // out now, by conversation id
    std::map<std::int32_t, std::string> notificationBodies;  // the last body, by conversation id
    std::optional<std::string> summaryNotice;  // the one for many, "SUMMARY: BODY", if out
    int mostNotificationsOut = 0;
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

inline ChatWindowParts RecordingConsoleView::Create() {
    auto timer = std::make_unique<RecordingTimer>();
    auto typingTimer = std::make_unique<RecordingTimer>();
    auto chat = std::make_unique<RecordingChatView>(log_, chats, *timer);
    chat->typingTimer = typingTimer.get();
    chat->windowManagerActivates = windowManagerActivates;
    if (onChatCreated) onChatCreated(*chat);
    return {std::move(chat), std::move(timer), std::move(typingTimer)};
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

// A descriptor watched as the event loop watches it: the test says when the loop comes round.
class RecordingWatch : public ReadableWatch {
  public:
    void Watch(int descriptor, std::function<void()> handler) override {
        watched = descriptor;
        handler_ = std::move(handler);
    }
    void Stop() override {
        watched = -1;
        handler_ = nullptr;
    }
    // Waits until the watched descriptor has something to read, then runs the handler as the
    // loop would; false when nothing is watched or nothing came.
    bool WaitAndFire() {
        if (!handler_) return false;
        pollfd entry{watched, POLLIN, 0};
        if (::poll(&entry, 1, 5000) != 1) return false;
        auto handler = handler_;
        handler();
        return true;
    }

    int watched = -1;

  private:
    std::function<void()> handler_;
};

class MemorySettings : public SettingsStore {
  public:
    // `unwritten` answers for the values that `values` does not hold.
    explicit MemorySettings(std::map<std::string, std::string>& values,
                            const std::map<std::string, std::string>& unwritten = {})
        : values_(values), unwritten_(unwritten) {}
    std::optional<std::string> Read(const std::string& section, const std::string& name) override {
        for (const std::map<std::string, std::string>* values :
             {&std::as_const(values_), &unwritten_}) {
            const auto found = values->find(section + "/" + name);
            if (found != values->end()) return found->second;
        }
        return std::nullopt;
    }
    void Write(const std::string& section, const std::string& name,
               const std::string& value) override {
        values_[section + "/" + name] = value;
    }

  private:
    std::map<std::string, std::string>& values_;
    const std::map<std::string, std::string> unwritten_;
};

}  // namespace tertulia::testing
