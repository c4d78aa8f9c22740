#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "app/console_assembly.h"
#include "app/ini_settings_store.h"
#include "chat/chat_window.h"
#include "qt_test_support.h"
#include "tests/chat/chat_doubles.h"

namespace tertulia {

// A folder of the test's own, made before the console that keeps its settings there.
struct WithTestFolder {
    QTemporaryDir directory;
};

// The console as the program puts it together, with its settings in `settingsFile` (by default
// one in a folder of the test's own). Nothing listens on the discard port it talks to.
struct ConsoleOnDesktop : private WithApplication, WithTestFolder, ConsoleAssembly {
    explicit ConsoleOnDesktop(QString settingsFile = {})
        : ConsoleAssembly(ConsoleSetup{
              .serviceUrl = "http://127.0.0.1:9",
              .programDirectory = directory.path().toStdString(),
              .openSettings = [file = settingsFile.isEmpty()
                                          ? directory.filePath(QStringLiteral("Tertulia.conf"))
                                          : settingsFile] { return IniSettingsStore::Open(file); },
          }) {}

    // A new conversation window over the desktop's parts, whose requests nothing answers.
    std::unique_ptr<TfrmChatClt> NewChat(std::int32_t id = 5) {
        ChatWindowParts parts = chatWindows.Create();
        return std::make_unique<TfrmChatClt>(id, requests, std::move(parts.view),
                                             std::move(parts.timer));
    }

    testing::FakeRequests requests;
};

}  // namespace tertulia
