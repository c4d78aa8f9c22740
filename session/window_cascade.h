#pragma once

#include "chat/chat_view.h"

namespace tertulia {

// How far right and down each new conversation window sits from the one opened before it.
inline constexpr int kCascadeStep = 24;

// Where the frame of a new window of `previous`'s size goes: offset by kCascadeStep from
// `previous`, or at the top left of `usable` when it would leave that area there, so that no
// window exactly covers the one before it.
ScreenRect NextCascadePlace(const ScreenRect& previous, const ScreenRect& usable);

}  // namespace tertulia
