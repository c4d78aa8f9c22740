#pragma once

#include <QSize>

class QWidget;

namespace tertulia {

// Sizes a shown top-level window so that its outer size, the window manager's frame included,
// is `outer`; a fixed window stays fixed. Without a frame the client size is the outer size.
void FitOuterSize(QWidget& window, QSize outer, bool fixed);

}  // namespace tertulia
