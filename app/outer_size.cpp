#include "app/outer_size.h"

#include <QWidget>

namespace tertulia {

void FitOuterSize(QWidget& window, QSize outer, bool fixed) {
    const QSize frame = window.frameGeometry().size() - window.size();
    const QSize client = outer - frame;
    if (window.size() == client) return;
    if (fixed) {
        window.setFixedSize(client);
    } else {
        window.resize(client);
    }
}

}  // namespace tertulia
