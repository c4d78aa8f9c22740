#pragma once

#include <memory>

#include "base/timer.h"
#include "chat/chat_view.h"

namespace tertulia {

// What the desktop makes for a new conversation window: its hidden view, its own poll timer, and
// the timer that ends the news that its visitor is typing.
struct ChatWindowParts {
    std::unique_ptr<ChatView> view;
    std::unique_ptr<Timer> timer;
    std::unique_ptr<Timer> typingTimer;
};

// Makes the desktop parts of new conversation windows.
class ChatWindowFactory {
  public:
    virtual ~ChatWindowFactory() = default;
    virtual ChatWindowParts Create() = 0;
};

}  // namespace tertulia
