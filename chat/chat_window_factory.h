#pragma once

#include <memory>

#include "base/timer.h"
#include "chat/chat_view.h"

namespace tertulia {

// What the desktop makes for a new conversation window: its hidden view and its own poll timer.
struct ChatWindowParts {
    std::unique_ptr<ChatView> view;
    std::unique_ptr<Timer> timer;
};

// Makes the desktop parts of new conversation windows.
class ChatWindowFactory {
  public:
    virtual ~ChatWindowFactory() = default;
    virtual ChatWindowParts Create() = 0;
};

}  // namespace tertulia
