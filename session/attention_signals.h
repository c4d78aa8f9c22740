#pragma once

#include <cstdint>
#include <string>

namespace tertulia {

// How the desktop tells the operator that a conversation waits or that the service is out of
// reach. The console's logic decides when; the desktop only shows. Texts are Windows-1252 bytes.
class AttentionSignals {
  public:
    virtual ~AttentionSignals() = default;

    // A desktop notification for this conversation, replacing the one it may already have;
    // clicking it runs ConsoleHandlers::NotificationClicked with the id.
    virtual void NotifyConversation(std::int32_t idSesionClt, const std::string& summary,
                                    const std::string& body) = 0;
    // Withdraws the conversation's notification, if it has one.
    virtual void WithdrawConversation(std::int32_t idSesionClt) = 0;
    // The one notification that stands for many waiting conversations, replacing the one before;
    // clicking it shows the console (ConsoleHandlers::AbrirVentana1Click).
    virtual void NotifySummary(const std::string& summary, const std::string& body) = 0;
    virtual void WithdrawSummary() = 0;

    // The notification-area icon: cycles with the attention icon and shows `tip` while `count`
    // conversations wait; with 0 it stops and shows no tip.
    virtual void ShowWaiting(int count, const std::string& tip) = 0;

    // The "disconnected" icon with its tip, or, with an empty tip, the ordinary icon again.
    virtual void ShowDisconnected(bool disconnected, const std::string& tip) = 0;
    // A notification that the service is out of reach; withdrawn with an empty text.
    virtual void NotifyDisconnected(const std::string& summary, const std::string& body) = 0;
    virtual void WithdrawDisconnected() = 0;
    // A passing notification that the console logged in again by itself.
    virtual void NotifyReconnected(const std::string& summary, const std::string& body) = 0;
};

// Which of the signals the operator wants (settings section "Avisos").
struct AttentionSwitches {
    bool marca = true;           // the mark on the waiting conversation's row
    bool bandeja = true;         // the notification-area icon
    bool notificaciones = true;  // desktop notifications
    bool sonido = true;          // the sound again at every news poll
};

}  // namespace tertulia
