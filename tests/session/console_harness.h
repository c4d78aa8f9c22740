#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "http/http_client.h"
#include "session/main_form.h"
#include "tests/session/window_doubles.h"

namespace tertulia::testing {

// A console over recording windows, talking to the service at `serviceUrl`.
struct ConsoleHarness {
    explicit ConsoleHarness(std::string serviceUrl, std::string programDirectory = "/nonexistent",
                            ProgramStarter starter = StartProgram)
        : view(log),
          console(ConsoleParts{
                      .view = view,
                      .dialogs = view,
                      .rows = view,
                      .chatWindows = view,
                      .announcer = view,
                      .attention = view,
                      .loop = view,
                      .timers = timers,
                      .eventWatch = eventWatch,
                      .openSettings = [this]() -> std::unique_ptr<SettingsStore> {
                          if (!settingsOpen) throw std::runtime_error("Cannot open the settings");
                          return std::make_unique<MemorySettings>(settings, unwritten);
                      },
                      .saveDialog = saveDialog,
                      .http = http,
                      .starter = std::move(starter),
                      .clock = [this] { return now; },
                      .startProbe =
                          [this](const std::string& url) {
                              probed.push_back(url);
                              return std::make_unique<AnsweredProbe>(reach);
                          },
                  },
                  std::move(serviceUrl), std::move(programDirectory)) {}

    // Shows the console and, once the update check has let it on to the login panel, logs in as
    // the demo company's operator.
    void ShowAndLogInAsDemo() {
        console.FormCreate();
        console.FormShow();
        view.RunPosted();
        ASSERT_EQ(view.panel, Panel::pnLogin) << "the update check did not end on the login panel";
        view.companyCode = "demo";
        view.password = "demo";
        console.btConectarClick();
    }

    RecordingChatView& Chat(std::size_t index) { return *view.chats.at(index); }
    const std::vector<Conversation>& Listed() const { return console.Conversations().Items(); }
    std::vector<std::string> ListedIds() const {
        std::vector<std::string> ids;
        for (const auto& item : Listed()) {
            ids.push_back(std::to_string(item.IdSesionClt) + "=" + item.visitorName);
        }
        return ids;
    }

    // A probe of the service that answers as `reach` says whenever it is looked at.
    struct AnsweredProbe : ConnectProbe {
        explicit AnsweredProbe(const Reach& answer) : answer_(answer) {}
        Reach Check() override { return answer_; }

      private:
        const Reach& answer_;
    };

    EventLog log;
    RecordingConsoleView view;
    RecordingTimers timers;
    RecordingWatch eventWatch;
    std::chrono::steady_clock::time_point now;
    std::map<std::string, std::string> settings;
    // What the settings read when `settings` holds no value: the tests that script every request
    // have no event stream unless they turn it on.
    std::map<std::string, std::string> unwritten{{"Servicio/Eventos", "0"}};
    bool settingsOpen = true;
    ConnectProbe::Reach reach = ConnectProbe::Reach::Reachable;  // what every probe finds
    std::vector<std::string> probed;                             // the probes' addresses
    ScriptedSaveDialog saveDialog;
    HttpClient http;
    TfrmMain console;
    // The console's timers, in the order its units make them.
    RecordingTimer& tmIdle = timers.Made(0);
    RecordingTimer& tmReconectar = timers.Made(1);
    RecordingTimer& tmPausaNoticias = timers.Made(2);
    RecordingTimer& tmRefrescos = timers.Made(3);
    RecordingTimer& tmEventos = timers.Made(4);
};

}  // namespace tertulia::testing
