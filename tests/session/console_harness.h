#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "session/main_form.h"
#include "tests/session/window_doubles.h"

namespace tertulia::testing {

// A console over recording windows, talking to the service at `serviceUrl`.
struct ConsoleHarness {
    explicit ConsoleHarness(std::string serviceUrl, std::string programDirectory = "/nonexistent",
                            ProgramStarter starter = StartProgram)
        : view(log),
          console(
              view, tmIdle,
              [this]() -> std::unique_ptr<SettingsStore> {
                  if (!settingsOpen) throw std::runtime_error("Cannot open the settings");
                  return std::make_unique<MemorySettings>(settings);
              },
              saveDialog, std::move(serviceUrl), std::move(programDirectory), std::move(starter)) {}

    RecordingChatView& Chat(std::size_t index) { return *view.chats.at(index); }
    std::vector<std::string> ListedIds() {
        std::vector<std::string> ids;
        for (const auto& item : console.ListBoxWImg1()) {
            ids.push_back(std::to_string(item.Objeto->IdSesionClt) + "=" + item.Texto);
        }
        return ids;
    }

    EventLog log;
    RecordingConsoleView view;
    RecordingTimer tmIdle;
    std::map<std::string, std::string> settings;
    bool settingsOpen = true;
    ScriptedSaveDialog saveDialog;
    TfrmMain console;
};

}  // namespace tertulia::testing
