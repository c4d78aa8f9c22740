#pragma once

#include <QString>
#include <optional>
#include <string>

#include "chat/save_dialog.h"

class QWidget;

namespace tertulia {

// The one save dialog of all conversation windows; it starts with the name chosen last.
class FileSaveDialog : public SaveDialog {
  public:
    explicit FileSaveDialog(QWidget* parent) : parent_(parent) {}

    // The chosen path in the file system's encoding, ready to open.
    std::optional<std::string> Execute() override;

  private:
    QWidget* parent_;
    QString lastName_;
};

}  // namespace tertulia
