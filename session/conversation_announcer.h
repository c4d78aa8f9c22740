#pragma once

#include <cstdint>
#include <string>

namespace tertulia {

// Tells the operator that a conversation has been opened: today the notification sound, played
// twice.
class ConversationAnnouncer {
  public:
    virtual ~ConversationAnnouncer() = default;
    // Loads the notification sound from a file; throws on failure.
    virtual void LoadSound(const std::string& fileName) = 0;
    // Throws when the operator could not be told (no sound loaded, no device).
    virtual void ConversationOpened(std::int32_t idSesionClt, const std::string& visitorName) = 0;
    // The sound once more, while conversations wait; throws as ConversationOpened does.
    virtual void Remind() = 0;
};

}  // namespace tertulia
