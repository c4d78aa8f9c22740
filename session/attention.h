#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>

#include "protocol/service_protocol.h"
#include "session/attention_signals.h"
#include "session/conversation_announcer.h"
#include "session/conversation_list.h"

namespace tertulia {

// Which conversations wait for the operator, and the signals that say so: the row's mark, the
// notification-area icon, a desktop notification each and the sound again at every news poll;
// and the signals of a lost connection. A conversation waits from its opening until its window
// has had the keyboard focus, and again when its visitor wrote while the window did not have it.
class Attention {
  public:
    Attention(ConversationList& list, AttentionSignals& shown, ConversationAnnouncer& announcer)
        : list_(list), signals_(shown), announcer_(announcer) {}

    void SetSwitches(const AttentionSwitches& switches) { switches_ = switches; }
    const AttentionSwitches& Switches() const { return switches_; }

    // A listed conversation, new: it waits, unless its window had the focus while it opened.
    void Opened(std::int32_t idSesionClt, bool attended);
    // Its window got the keyboard focus: true when it waited until now.
    bool Attended(std::int32_t idSesionClt);
    // It is about to leave the list: its signals go.
    void Forget(std::int32_t idSesionClt);
    bool Waits(std::int32_t idSesionClt) const;

    // A news poll's reply was read: a visitor's line count that grew while `hasFocus` says its
    // window did not have the focus makes the conversation wait again. Then the icon shows
    // what waits, and with `remind` the sound plays once more while anything does.
    void TakeNews(const NewsReply& news, const std::function<bool(std::int32_t)>& hasFocus,
                  bool remind);
    // The icon and, with `remind`, the sound for the conversations that wait now.
    void ShowWaiting(bool remind);

    // The service is out of reach since now; back, by the operator's login or by itself.
    void ConnectionLost(const std::exception& failure);
    void ConnectionBack(bool automatic);

  private:
    struct Waiting {
        bool unattended = true;
        std::optional<std::int64_t> visitorLines;  // from the last news reply that had one
        bool notified = false;                     // a desktop notification of it is out
    };
    void SetUnattended(std::int32_t idSesionClt, Waiting& waiting, bool unattended);

    ConversationList& list_;
    AttentionSignals& signals_;
    ConversationAnnouncer& announcer_;
    AttentionSwitches switches_;
    std::map<std::int32_t, Waiting> waiting_;  // by conversation id, for the listed ones
    bool disconnected_ = false;
};

}  // namespace tertulia
