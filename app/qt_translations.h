#pragma once

class QCoreApplication;

namespace tertulia {

// Installs Qt's own Spanish texts (the save dialog's title, buttons and questions) from the Qt
// translations folder, so that they match the rest of the program whatever the desktop's language.
// The program's own literal texts are not translated. Returns false, and Qt keeps its English
// texts, when the translations are not installed.
bool InstallQtSpanishTranslations(QCoreApplication& app);

}  // namespace tertulia
