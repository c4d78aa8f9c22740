#include "app/qt_translations.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>

#include "app/file_save_dialog.h"
#include "app/message_boxes.h"
#include "qt_test_support.h"

namespace tertulia {
namespace {

QStringList ButtonTexts(QWidget& window) {
    QStringList texts;
    for (auto* box : window.findChildren<QDialogButtonBox*>()) {
        for (QAbstractButton* button : box->buttons()) texts << button->text();
    }
    return texts;
}

// What the save dialog showed, and the question it asked before replacing a file.
struct SeenSaveDialog {
    QString title;
    QStringList buttons;
    QString question;
    QStringList questionButtons;
};

// Runs the save dialog, chooses the existing file `existing`, answers "No" to the question and
// cancels the dialog.
SeenSaveDialog ReadSaveDialog(FileSaveDialog& saveDialog, const QString& existing) {
    SeenSaveDialog seen;
    QTimer::singleShot(0, [&seen, existing] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        seen.title = dialog->windowTitle();
        seen.buttons = ButtonTexts(*dialog);
        QTimer::singleShot(0, [&seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            seen.question = box->text();
            for (QAbstractButton* button : box->buttons()) seen.questionButtons << button->text();
            box->button(QMessageBox::No)->click();
        });
        dialog->selectFile(existing);
        static_cast<QDialog*>(dialog)->accept();  // asks first; "No" keeps the dialog open
        dialog->reject();
    });
    EXPECT_EQ(saveDialog.Execute(), std::nullopt);
    return seen;
}

TEST(QtTranslationsTest, qt_dialogs_read_in_spanish_and_our_boxes_keep_their_texts) {
    EnsureApplication();
    if (!InstallQtSpanishTranslations(*QCoreApplication::instance())) {
        GTEST_SKIP()
            << "Qt's Spanish translations (Debian qt6-translations-l10n) are not installed";
    }
    QTemporaryDir directory;
    const QString existing = directory.filePath(QStringLiteral("copia.txt"));
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    FileSaveDialog saveDialog(nullptr);
    const SeenSaveDialog seen = ReadSaveDialog(saveDialog, existing);
    EXPECT_EQ(seen.title, QStringLiteral("Guardar como"));
    EXPECT_EQ(seen.buttons, (QStringList{QStringLiteral("&Guardar"), QStringLiteral("Cancelar")}));
    EXPECT_TRUE(seen.question.contains(QStringLiteral("ya existe"))) << seen.question.toStdString();
    EXPECT_EQ(seen.questionButtons,
              (QStringList{QStringLiteral("&S\u00ED"), QStringLiteral("&No")}));

    const SeenBox confirm =
        ReadModalBox([] { AskConfirmation(nullptr, QStringLiteral("Desea Guardar?")); },
                     QStringLiteral("Cancel"));
    EXPECT_EQ(confirm.title, QStringLiteral("Confirm"));
    EXPECT_EQ(confirm.buttons, (QStringList{QStringLiteral("OK"), QStringLiteral("Cancel")}));
    const SeenBox error = ReadModalBox([] { ShowErrorBox(nullptr, QStringLiteral("ERROR x")); },
                                       QStringLiteral("OK"));
    EXPECT_EQ(error.title, QStringLiteral("Error"));
    EXPECT_EQ(error.buttons, QStringList{QStringLiteral("OK")});

    // The other tests of this program see Qt's own texts again.
    for (auto* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

}  // namespace
}  // namespace tertulia
