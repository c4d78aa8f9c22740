#include "app/file_save_dialog.h"

#include <QFile>
#include <QFileDialog>
#include <QWidget>

namespace tertulia {

std::optional<std::string> FileSaveDialog::Execute() {
    QWidget* parent = parent_ != nullptr && parent_->isVisible() ? parent_ : nullptr;
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(
        {QStringLiteral("Archivos de Texto (*.txt)"), QStringLiteral("Todos los Archivos (*.*)")});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    // Qt's dialog asks before replacing an existing file; that stays on, so no transcript
    // overwrites a file unasked.
    if (!lastName_.isEmpty()) dialog.selectFile(lastName_);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    lastName_ = dialog.selectedFiles().constFirst();
    return QFile::encodeName(lastName_).toStdString();
}

}  // namespace tertulia
