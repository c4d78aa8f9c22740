#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/console_assembly.h"
#include "app/ini_settings_store.h"
#include "chat/chat_window.h"
#include "chat/conversation_requests.h"
#include "qt_test_support.h"

namespace tertulia {

// A console whose service never answers, for windows made outside its list.
class UnansweredRequests : public ConversationRequests {
  public:
    explicit UnansweredRequests(SaveDialog& saveDialog) : saveDialog_(saveDialog) {}
    std::string Transcript(std::int32_t) override { throw std::runtime_error("no service"); }
    SentLine Send(std::int32_t, const std::string&) override {
        throw std::runtime_error("no service");
    }
    std::string Close(std::int32_t) override { throw std::runtime_error("no service"); }
    std::string HandOn(std::int32_t) override { throw std::runtime_error("no service"); }
    void OperatorTyping(std::int32_t) override {}
    SaveDialog& SaveDialog1() override { return saveDialog_; }
    void ConversationClosed(TfrmChatClt&) override {}
    bool ConversationActivated(TfrmChatClt&) override { return false; }
    void VisitorTypingEnded(TfrmChatClt&) override {}

  private:
    SaveDialog& saveDialog_;
};

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
                                             std::move(parts.timer), std::move(parts.typingTimer));
    }

    UnansweredRequests requests{saveDialog};
};

}  // namespace tertulia
