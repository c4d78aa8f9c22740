#pragma once

#include <string>

namespace tertulia {

// The chat button that a company puts on its own pages with
//   <script src="https://SERVICE/widget.js" data-empresa="CODE" async></script>
// It shows a button at the bottom right that opens the visitor page of the service at
// `serviceOrigin` in a frame, so the conversation talks only to its own origin. Whether the
// frame is open is remembered for the page's tab, so it stays open from page to page; the
// visitor page keeps its conversation in its own storage. `serviceOrigin` holds only
// characters that need no escaping in a script string.
std::string ChatWidgetScript(const std::string& serviceOrigin);

}  // namespace tertulia
