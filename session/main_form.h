#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <chrono>
#include <functional>

#include "base/event_loop.h"
#include "base/readable_watch.h"
#include "base/timer.h"
#include "chat/chat_window_factory.h"
#include "chat/save_dialog.h"
#include "http/connect_probe.h"
#include "http/http_client.h"
#include "protocol/service_protocol.h"
#include "session/attention.h"
#include "session/attention_signals.h"
#include "session/console_login.h"
#include "session/console_view.h"
#include "session/conversation_announcer.h"
#include "session/conversation_list.h"
#include "session/conversation_windows.h"
#include "session/dialogs.h"
#include "session/event_polls.h"
#include "session/operator_events.h"
#include "session/program_starter.h"
#include "session/reconnection.h"
#include "session/settings_store.h"
#include "session/transfer_progress.h"

namespace tertulia {

// What the console is given to work with; every part must outlive it.
struct ConsoleParts {
    ConsoleView& view;
    Dialogs& dialogs;
    ConversationRows& rows;  // ListBoxWImg1
    ChatWindowFactory& chatWindows;
    ConversationAnnouncer& announcer;
    AttentionSignals& attention;
    EventLoop& loop;
    TimerFactory& timers;
    ReadableWatch& eventWatch;  // the event stream's connection
    SettingsOpener openSettings;
    SaveDialog& saveDialog;  // SaveDialog1
    HttpClient& http;        // HTTP1
    ProgramStarter starter = StartProgram;
    OperatorEvents::Clock clock = std::chrono::steady_clock::now;
    // Begins a connection to the service at this address, to learn whether it is there.
    std::function<std::unique_ptr<ConnectProbe>(const std::string& url)> startProbe =
        StartConnectProbe;
};

// The logic of the operator console: start-up and self-update, login (also by itself after the
// service was lost, with the company code and password of the last login that worked, whatever
// the login panel holds by then), the news poll, and the service's event stream that brings polls
// forward. Its conversations' windows, the signals of those that wait, and the transfer progress
// are units of their own that it holds.
class TfrmMain : public ConsoleHandlers, public ConsoleLogin, private EventPolls::Targets {
  public:
    static constexpr int NewsInterval = 30000;
    static constexpr std::chrono::milliseconds LogoutBound{2000};

    // `serviceUrl` is the service's base address ("http://host:port"); `programDirectory` is the
    // program's folder, where the sound is looked for first (FindSoundFile).
    TfrmMain(ConsoleParts parts, std::string serviceUrl, std::string programDirectory);
    ~TfrmMain() override;
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // Window events.
    void FormCreate();
    void FormShow() override;
    void WMInicio();                 // the start-up sequence; FormShow posts it
    bool FormCloseQuery() override;  // always refuses the close and hides the window
    void FormDestroy();
    void btConectarClick() override;
    void tmIdleTimer();
    void ListBoxWImg1DblClick() override { windows_.ShowSelected(); }
    void TrayIcon1DblClick() override { view_.ShowWindow(); }
    void AbrirVentana1Click() override { view_.ShowWindow(); }
    // Ends the program ("Cerrar", Ctrl+Q, the signals and the end of the desktop session),
    // handing the session's conversations on first.
    void Salir1Click() override;
    void NotificationClicked(std::int32_t idSesionClt) override { windows_.Show(idSesionClt); }

    void MostrarPanel(Panel panel) { view_.ShowPanel(panel); }
    void VerificarActualizacion();

    std::string CodigoEmpresa() const override;
    std::string IdSesion() const override { return idSesion_; }

    const ConversationList& Conversations() const { return conversations_; }

  private:
    // What the event stream's changes poll.
    bool HasFocus(std::int32_t idSesionClt) const override {
        return windows_.HasFocus(idSesionClt);
    }
    void Poll(std::int32_t idSesionClt) override { windows_.Poll(idSesionClt); }
    bool ShownWithoutFocus(std::int32_t idSesionClt) const override {
        return windows_.ShownWithoutFocus(idSesionClt);
    }
    void Refresh(std::int32_t idSesionClt) override { windows_.Refresh(idSesionClt); }
    bool NewsArmed() const override { return tmIdle_->Enabled(); }
    void PollNews() override { tmIdleTimer(); }
    // The company's ready answers, for the windows; a service that does not know them (an older
    // one) has none, and one out of reach leaves those known as they were.
    void FetchReadyAnswers() override;
    // Whether any other console of the company is connected, for the windows' "Pasar" button:
    // asked of a service that knows the ready answers, until it says it does not know the action.
    void AskOtherConsoles();

    // Takes the session of an "OK" login reply to `company` with the password's `digest` and
    // runs the first news poll; a login to another company first closes the windows of the one
    // before.
    void LoggedIn(const LoginReply& login, const std::string& company, const std::string& digest);
    void ReadNewsList(const NewsReply& news);
    // The login that Reconnection runs once the lost service answers again.
    void LogInAgain();
    // A login refused by the service: the login panel, and the reply in an error box.
    void ShowRefusal(const std::string& reply);
    // Ends the session of the last successful login on the service, which hands its
    // conversations to the company's other consoles at once; waits at most LogoutBound, and a
    // failure only leaves the session to lapse there.
    void CerrarSesion();

    ConsoleParts parts_;
    ConsoleView& view_;
    const std::string serviceUrl_;
    const std::string programDirectory_;
    const std::unique_ptr<Timer> tmIdle_;  // the news poll

    std::unique_ptr<SettingsStore> settings_;
    std::string consola_;  // the console's key; empty without settings
    std::string idSesion_;
    bool iniciado_ = false;
    int logins_ = 0;                 // successful logins so far
    std::string company_;            // the company code of the last successful login
    std::string digest_;             // and its password's digest
    bool askOtherConsoles_ = false;  // in this session, for now
    ConversationList conversations_;
    Attention attention_;
    ConversationWindows windows_;
    Reconnection reconnection_;
    EventPolls polls_;
    OperatorEvents events_;
    TransferProgress progress_;
};

}  // namespace tertulia
