#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "protocol/service_protocol.h"
#include "session/attention_signals.h"
#include "session/conversation_announcer.h"
#include "session/conversation_list.h"

namespace tertulia {

// Which conversations wait for the operator, and the signals that say so: the row's mark, the
// notification-area icon, a desktop notification each (one for them all when many wait) and the
// sound again at every news poll; and the signals of a lost connection. A conversation waits
// from its opening until its window has had the keyboard focus, and again when its visitor wrote
// a line that the operator has not seen in that window.
class Attention {
  public:
    Attention(ConversationList& list, AttentionSignals& shown, ConversationAnnouncer& announcer)
        : list_(list), signals_(shown), announcer_(announcer) {}

    void SetSwitches(const AttentionSwitches& switches) { switches_ = switches; }

    // A listed conversation, new: it waits, unless its window had the focus while it opened.
    void Opened(std::int32_t idSesionClt, bool attended);
    // Its window got the keyboard focus: true when it waited until now.
    bool Attended(std::int32_t idSesionClt);
    // It is about to leave the list: its signals go.
    void Forget(std::int32_t idSesionClt);

    // The event stream says how many lines the conversation's visitor has written by now.
    void Heard(std::int32_t idSesionClt, std::int64_t visitorLines);
    // The window fetched its transcript, `reply`; `focused` when the fetch began while the window
    // had the keyboard focus: the operator has seen every visitor line known by then.
    void TranscriptRead(std::int32_t idSesionClt, bool focused, const std::string& reply);

    // A news poll's reply was read: a visitor's line count that grew beyond what the operator saw
    // in the window, while `hasFocus` says that the window does not have the focus, makes the
    // conversation wait again. Then the icon shows what waits, and with `remind` the sound plays
    // once more while anything does.
    void TakeNews(const NewsReply& news, const std::function<bool(std::int32_t)>& hasFocus,
                  bool remind);
    // The icon and, with `remind`, the sound for the conversations that wait now.
    void ShowWaiting(bool remind);

    // The service is out of reach since now; back, by the operator's login or by itself.
    void ConnectionLost(const std::exception& failure);
    void ConnectionBack(bool automatic);

  private:
    struct Waiting {
        bool unattended = false;
        bool fresh = true;                         // never attended since it opened
        std::optional<std::int64_t> visitorLines;  // from the last news reply that had one
        std::int64_t heard = -1;                   // the most lines the event stream has told of
        std::int64_t seen = -1;  // the visitor lines known when the focused window fetched
        std::optional<std::string> lastLine;  // the visitor's latest line, as last fetched
        bool lastLineSeen = false;            // fetched while the window had the focus
        std::optional<std::string> notified;  // the body of its notification that is out
        bool renew = false;  // its notification is shown again, as news of a new line
    };
    void SetUnattended(std::int32_t idSesionClt, Waiting& waiting, bool unattended);
    int CountWaiting() const;
    // The desktop notifications as what waits now calls for: one for each waiting conversation,
    // or, with more than kMostConversationNotifications, one for them all.
    void Notify();
    void Withdraw(std::int32_t idSesionClt, Waiting& waiting);
    std::string BodyOf(const Waiting& waiting) const;

    ConversationList& list_;
    AttentionSignals& signals_;
    ConversationAnnouncer& announcer_;
    AttentionSwitches switches_;
    std::map<std::int32_t, Waiting> waiting_;  // by conversation id, for the listed ones
    int summarised_ = 0;  // how many conversations the one notification stands for now
    bool disconnected_ = false;
};

}  // namespace tertulia
